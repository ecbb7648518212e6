# Makes a fresh self-signed certificate and key and writes them into a C++
# source file as text constants. Run at build time: cmake -DOUT=<file.cpp> -P GenerateCertificate.cmake
get_filename_component(dir "${OUT}" DIRECTORY)
set(key "${dir}/builtin-key.pem")
set(cert "${dir}/builtin-cert.pem")
execute_process(
  COMMAND openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 36500 -subj "/CN=lanferry"
          -keyout "${key}" -out "${cert}"
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "openssl could not make the built-in certificate: ${err}")
endif()
file(READ "${cert}" cert_text)
file(READ "${key}" key_text)
file(REMOVE "${key}" "${cert}")
file(WRITE "${OUT}.tmp" "// Generated at build time; not kept in the repository.\n#include \"BuiltinCertificate.h\"\n\n"
  "const char *builtinCertificatePem()\n{\n    return R\"PEM(${cert_text})PEM\";\n}\n\n"
  "const char *builtinPrivateKeyPem()\n{\n    return R\"PEM(${key_text})PEM\";\n}\n")
file(RENAME "${OUT}.tmp" "${OUT}")
