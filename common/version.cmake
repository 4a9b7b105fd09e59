# Version files and the update host.
#
# The update host is fixed when the programs are built: ZIVRA_UPDATE_HOST (host or host:port) and
# ZIVRA_UPDATE_CA_FILE (empty: the system's trust store). A test build (ZIVRA_UPDATE_TEST_HOST=ON,
# as the default preset sets it) instead points the programs at the local update host that the
# integration tests start, 127.0.0.1:38443, and trusts only a test CA made here in the build
# folder. Such a build must never be installed.
option(ZIVRA_UPDATE_TEST_HOST
       "Point the programs at the tests' local update host and its test CA (never for installation)" OFF)
set(ZIVRA_TEST_UPDATE_ADDRESS "127.0.0.1:38443" CACHE INTERNAL "Where the tests' update host listens")
set(ZIVRA_TEST_UPDATE_DIR "${CMAKE_BINARY_DIR}/update-test-host" CACHE INTERNAL
    "Test CA and host certificate of the tests' update host")

function(zivra_make_update_test_certificates dir)
  if(EXISTS "${dir}/host.crt" AND EXISTS "${dir}/host.key" AND EXISTS "${dir}/ca.crt")
    execute_process(COMMAND openssl x509 -checkend 2592000 -noout -in "${dir}/host.crt"
                    RESULT_VARIABLE still_valid OUTPUT_QUIET ERROR_QUIET)
    if(still_valid EQUAL 0)
      return()
    endif()
  endif()
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${dir}/host.ext"
       "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
       "extendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n")
  function(zivra_openssl)
    execute_process(COMMAND openssl ${ARGN} WORKING_DIRECTORY "${dir}" RESULT_VARIABLE rc
                    OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Cannot make the update test certificates: ${err}")
    endif()
  endfunction()
  zivra_openssl(req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.crt
                -days 825 -subj "/CN=zivra update test CA" -addext "basicConstraints=critical,CA:TRUE"
                -addext "keyUsage=critical,keyCertSign")
  zivra_openssl(req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout host.key -out host.csr
                -subj "/CN=127.0.0.1")
  zivra_openssl(x509 -req -in host.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out host.crt -days 800
                -extfile host.ext)
  # Nothing else may ever be signed with the test CA.
  file(REMOVE "${dir}/ca.key" "${dir}/host.csr" "${dir}/ca.srl" "${dir}/host.ext")
endfunction()

if(ZIVRA_UPDATE_TEST_HOST)
  zivra_make_update_test_certificates("${ZIVRA_TEST_UPDATE_DIR}")
  set(update_host "${ZIVRA_TEST_UPDATE_ADDRESS}")
  set(update_ca "${ZIVRA_TEST_UPDATE_DIR}/ca.crt")
  message(STATUS "Update host: ${update_host}, the tests' local host (test build: do not install)")
  if(NOT ZIVRA_BUILD_TESTS)
    message(WARNING "ZIVRA_UPDATE_TEST_HOST is ON in a build without tests: its programs look for "
                    "updates on ${update_host}. Builds for installation use the release preset.")
  endif()
else()
  set(update_host "${ZIVRA_UPDATE_HOST}")
  set(update_ca "${ZIVRA_UPDATE_CA_FILE}")
  message(STATUS "Update host: ${update_host}")
endif()

add_library(zivra_version STATIC ${CMAKE_CURRENT_LIST_DIR}/version.cpp)
target_include_directories(zivra_version PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zivra_version PUBLIC zivra_platform PRIVATE zivra_platform_extra zivra_warnings)
target_compile_definitions(zivra_version PRIVATE ZIVRA_UPDATE_HOST="${update_host}"
                           ZIVRA_UPDATE_CA_FILE="${update_ca}")
