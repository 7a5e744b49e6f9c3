// The coordinates of an mbedtls point. mbedtls 3 keeps them private and has
// no accessor for them; the SAE layer and its tools read and write affine
// points (Z = 1) directly, so this is the one place that names the fields.
#ifndef SUP_MBEDTLS_POINT_H_
#define SUP_MBEDTLS_POINT_H_

#include "mbedtls/ecp.h"

inline mbedtls_mpi *PointX(mbedtls_ecp_point *P) { return &P->MBEDTLS_PRIVATE(X); }
inline mbedtls_mpi *PointY(mbedtls_ecp_point *P) { return &P->MBEDTLS_PRIVATE(Y); }
inline mbedtls_mpi *PointZ(mbedtls_ecp_point *P) { return &P->MBEDTLS_PRIVATE(Z); }
inline const mbedtls_mpi *PointX(const mbedtls_ecp_point *P) { return &P->MBEDTLS_PRIVATE(X); }
inline const mbedtls_mpi *PointY(const mbedtls_ecp_point *P) { return &P->MBEDTLS_PRIVATE(Y); }
inline const mbedtls_mpi *PointZ(const mbedtls_ecp_point *P) { return &P->MBEDTLS_PRIVATE(Z); }

#endif
