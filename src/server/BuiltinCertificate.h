// The self-signed certificate and RSA key every installation presents. Peers
// do not verify it; TLS only protects the channel. Generated when the program
// is built, so no private key lives in the repository.
#pragma once

const char *builtinCertificatePem();
const char *builtinPrivateKeyPem();
