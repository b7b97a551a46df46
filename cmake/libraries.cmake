# The libraries quorvix.exe builds in, both from Debian: Boost.Beast and
# Boost.Asio (header-only, libboost1.81-dev) and the QR code generator
# (Debian's source package of it, pinned).

# Boost's headers, without the rest of /usr/include, which is Linux's.
set(BOOST_HEADERS /usr/include/boost)
if(NOT EXISTS ${BOOST_HEADERS}/version.hpp)
  message(FATAL_ERROR "Boost's headers are not in ${BOOST_HEADERS}: install libboost1.81-dev (scripts/install-deps does)")
endif()
file(STRINGS ${BOOST_HEADERS}/version.hpp BOOST_VERSION_LINE REGEX "define BOOST_VERSION [0-9]+")
string(REGEX MATCH "[0-9]+" BOOST_VERSION_NUMBER "${BOOST_VERSION_LINE}")
if(BOOST_VERSION_NUMBER LESS 108100)
  message(FATAL_ERROR "Boost ${BOOST_VERSION_NUMBER} in ${BOOST_HEADERS} is too old: install libboost1.81-dev")
endif()
set(BOOST_INCLUDE_DIR ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${BOOST_INCLUDE_DIR})
file(CREATE_LINK ${BOOST_HEADERS} ${BOOST_INCLUDE_DIR}/boost SYMBOLIC)

set(QRCODEGEN_VERSION 1.8.0)
set(QRCODEGEN_URL http://deb.debian.org/debian/pool/main/q/qr-code-generator/qr-code-generator_${QRCODEGEN_VERSION}.orig.tar.gz)
set(QRCODEGEN_SHA256 2ec0a4d33d6f521c942eeaf473d42d5fe139abcfa57d2beffe10c5cf7d34ae60)
set(QRCODEGEN_DIR ${CMAKE_BINARY_DIR}/qrcodegen)
set(QRCODEGEN_ARCHIVE ${QRCODEGEN_DIR}/qr-code-generator_${QRCODEGEN_VERSION}.orig.tar.gz)
# The C edition: the C++ one builds its errors with string streams, which
# would bring the standard library's locales into the program.
set(QRCODEGEN_SOURCE ${QRCODEGEN_DIR}/QR-Code-generator-${QRCODEGEN_VERSION}/c)
if(NOT EXISTS ${QRCODEGEN_SOURCE}/qrcodegen.c)
  file(DOWNLOAD ${QRCODEGEN_URL} ${QRCODEGEN_ARCHIVE} EXPECTED_HASH SHA256=${QRCODEGEN_SHA256}
       STATUS QRCODEGEN_STATUS)
  list(GET QRCODEGEN_STATUS 0 QRCODEGEN_CODE)
  if(NOT QRCODEGEN_CODE EQUAL 0)
    list(GET QRCODEGEN_STATUS 1 QRCODEGEN_WHY)
    message(FATAL_ERROR "The QR code generator's sources could not be fetched from ${QRCODEGEN_URL}: ${QRCODEGEN_WHY}")
  endif()
  file(ARCHIVE_EXTRACT INPUT ${QRCODEGEN_ARCHIVE} DESTINATION ${QRCODEGEN_DIR}
       PATTERNS QR-Code-generator-${QRCODEGEN_VERSION}/c/qrcodegen.c
                QR-Code-generator-${QRCODEGEN_VERSION}/c/qrcodegen.h)
endif()
add_library(qrcodegen STATIC ${QRCODEGEN_SOURCE}/qrcodegen.c)
target_include_directories(qrcodegen SYSTEM PUBLIC ${QRCODEGEN_SOURCE})
