#include <mbedtls/x509_crt.h>

#include "EapTlsWire.h"

namespace wifi {

std::string CertificateSubject(const Bytes &Der) {
  mbedtls_x509_crt Certificate;
  mbedtls_x509_crt_init(&Certificate);
  std::string Subject;
  if (mbedtls_x509_crt_parse_der(&Certificate, Der.data(), Der.size()) == 0) {
    char Text[512];
    int Length = mbedtls_x509_dn_gets(Text, sizeof(Text), &Certificate.subject);
    if (Length > 0) {
      Subject.assign(Text, (size_t)Length);
    }
  }
  mbedtls_x509_crt_free(&Certificate);
  return Subject;
}

}  // namespace wifi
