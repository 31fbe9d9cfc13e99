# The product's site: the download host it talks to and the release public
# key that both manifests must verify with. Both are fixed when the product
# is built, from two cache variables (scripts/build-installer sets them):
#
#   TUNDRA_DOWNLOAD_HOST        a plain DNS name served over HTTPS on port 443
#   TUNDRA_RELEASE_PUBLIC_KEY   64 hexadecimal digits, as `tundra-release keygen`
#                               prints them after "public key:"
#
# A product built with the test key would trust manifests that anyone can
# sign (the test key's secret half is published with the sources): that is
# refused here. A product built without a key still builds, with a key of
# zeros that verifies no signature: it accepts no release and no update
# until it is built again with the real key, and the build says so loudly.

# The public half of the test key pair in tests/fixtures/release_test_key.
set(TUNDRA_TEST_PUBLIC_KEY add01351f37f99770c94175c9e4b2062c0f0e0c4995c4ef4c302e08c5c0c2ed2)

set(TUNDRA_DOWNLOAD_HOST "downloads.tundra-os.org" CACHE STRING
    "The download host that the installer product talks to")
set(TUNDRA_RELEASE_PUBLIC_KEY "" CACHE STRING
    "The release public key compiled into the installer product (64 hex digits)")

string(LENGTH "${TUNDRA_DOWNLOAD_HOST}" host_length)
if(NOT TUNDRA_DOWNLOAD_HOST MATCHES "^[A-Za-z0-9.-]+$" OR host_length GREATER 253)
  message(FATAL_ERROR "TUNDRA_DOWNLOAD_HOST \"${TUNDRA_DOWNLOAD_HOST}\" is not a plain host "
                      "name (1 to 253 letters, digits, \"-\" and \".\")")
endif()

string(TOLOWER "${TUNDRA_RELEASE_PUBLIC_KEY}" release_key)
string(LENGTH "${release_key}" key_length)
set(TUNDRA_RELEASE_KEY_GIVEN OFF)
if(release_key STREQUAL "")
  set(TUNDRA_RELEASE_KEY_NOTICE "This installer has NO release public key: it will accept \
no release and no update until it is built with one (scripts/build-installer --public-key HEX; \
README, \"Publishing\").")
elseif(NOT release_key MATCHES "^[0-9a-f]+$" OR NOT key_length EQUAL 64)
  message(FATAL_ERROR "TUNDRA_RELEASE_PUBLIC_KEY must be 64 hexadecimal digits, as "
                      "`tundra-release keygen` prints them")
elseif(release_key STREQUAL TUNDRA_TEST_PUBLIC_KEY)
  message(FATAL_ERROR "TUNDRA_RELEASE_PUBLIC_KEY is the TEST key, whose secret half is "
                      "published with the sources: a product built with it would install "
                      "whatever anyone signs. Use the key that `tundra-release keygen` made "
                      "for the release.")
else()
  set(TUNDRA_RELEASE_KEY_GIVEN ON)
  # "0x13, 0x15, ..." for the C++ initialiser.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," key_bytes "${release_key}")
  string(REGEX REPLACE ",$" "" TUNDRA_RELEASE_KEY_BYTES "${key_bytes}")
endif()

# Compiles the product's site into `target` with the host and key above.
function(tundra_product_site target)
  target_compile_definitions(${target} PRIVATE
    TUNDRA_PRODUCT_DOWNLOAD_HOST="${TUNDRA_DOWNLOAD_HOST}")
  if(TUNDRA_RELEASE_KEY_GIVEN)
    target_compile_definitions(${target} PRIVATE
      TUNDRA_PRODUCT_RELEASE_KEY=${TUNDRA_RELEASE_KEY_BYTES})
  endif()
endfunction()

# Says at every build of `target` (not only at configuration) that the
# product has no key.
function(tundra_warn_without_key target)
  if(TUNDRA_RELEASE_KEY_GIVEN)
    return()
  endif()
  message(WARNING "${TUNDRA_RELEASE_KEY_NOTICE}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E echo "WARNING: ${TUNDRA_RELEASE_KEY_NOTICE}"
    VERBATIM)
endfunction()
