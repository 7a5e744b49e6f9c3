# Flags and helpers for freestanding code and UEFI images.

if(FW_EFI)
  # clang aimed at windows-msvc simulates MSVC, and the Generic platform then
  # leaves it without dependency-file flags: header changes would not rebuild
  # the objects that include them (a changed record layout would link stale
  # objects against new ones).
  foreach(lang C CXX)
    set(CMAKE_DEPFILE_FLAGS_${lang} "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
  endforeach()
endif()

# Compile options every driver and support-library source gets.
add_library(fw_freestanding INTERFACE)
target_compile_features(fw_freestanding INTERFACE cxx_std_20)
if(FW_EFI)
  target_compile_options(fw_freestanding INTERFACE
    -ffreestanding -fno-stack-protector -mno-red-zone -fshort-wchar -nostdlibinc
    -fno-builtin-printf -ffunction-sections -fdata-sections
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -mno-stack-arg-probe
    # Size first (after the build type's -O2, so it wins); fw_hot_sources()
    # gives the hot paths -O2 back.
    -Oz)
else()
  # The host build compiles the same sources as ordinary hosted C++; the
  # language restrictions stay the same so both builds see one dialect.
  # Host-only targets that link driver libraries but are ordinary C++
  # themselves (tools, simulated platforms) set the target property
  # FW_HOSTED: ON keeps exceptions and RTTI; EXCEPTIONS keeps exceptions only,
  # for code that derives from classes built without RTTI (test fixtures).
  set(fw_dialect "$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<BOOL:$<TARGET_PROPERTY:FW_HOSTED>>>>")
  set(fw_no_rtti "$<AND:$<COMPILE_LANGUAGE:CXX>,$<OR:$<NOT:$<BOOL:$<TARGET_PROPERTY:FW_HOSTED>>>,$<STREQUAL:$<TARGET_PROPERTY:FW_HOSTED>,EXCEPTIONS>>>")
  target_compile_options(fw_freestanding INTERFACE
    $<${fw_dialect}:-fno-exceptions -fno-threadsafe-statics>
    $<${fw_no_rtti}:-fno-rtti>)
endif()

# fw_hot_sources(SOURCE...)
# The UEFI images are compiled for size (-Oz, from fw_freestanding); the
# sources named here keep -O2 because a connection waits on them: the
# pass-phrase derivation (SHA-1, PBKDF2), HMAC-SHA256 and the P-256
# arithmetic of SAE. Paths are relative to the calling directory, whose
# targets the property reaches. The host build is -O2 throughout.
function(fw_hot_sources)
  if(FW_EFI)
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -O2)
  endif()
endfunction()

# efi_image(NAME SUBSYSTEM driver|application ENTRY symbol LIBS libs... [OUTPUT_DIR dir])
# Links a PE32+ image from static libraries. The entry symbol must be kept
# alive explicitly because lld-link discards unreferenced library members.
function(efi_image name)
  cmake_parse_arguments(ARG "" "SUBSYSTEM;ENTRY;OUTPUT_DIR" "LIBS;SOURCES" ${ARGN})
  if(ARG_SUBSYSTEM STREQUAL "driver")
    set(subsystem efi_boot_service_driver)
  else()
    set(subsystem efi_application)
  endif()
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${FW_EFI_OUTPUT_DIR})
  endif()
  if(NOT ARG_SOURCES)
    # Everything comes from the libraries; CMake still wants one source.
    set(ARG_SOURCES ${CMAKE_CURRENT_BINARY_DIR}/${name}_image.cpp)
    file(WRITE ${ARG_SOURCES} "// ${name}: linked from its libraries\n")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    LINKER_LANGUAGE CXX
    RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} platform_firmware)
  target_link_options(${name} PRIVATE
    -nodefaultlib -machine:x64 -opt:ref -debug:none
    -subsystem:${subsystem} -entry:${ARG_ENTRY} -include:${ARG_ENTRY})
endfunction()
