// A write-only OpenSSL BIO over a connected socket: each write is one send()
// that never blocks and never raises SIGPIPE. A large answer is encrypted
// straight into the socket through it, record after record, instead of
// through a memory pair and one asynchronous operation per record.
#pragma once

#include <openssl/bio.h>

// A new BIO writing to `fd`, which it does not own (closing the BIO leaves the
// socket open). A full socket buffer shows as a retryable write; nullptr when
// OpenSSL cannot allocate it.
BIO *newSendBio(int fd);
