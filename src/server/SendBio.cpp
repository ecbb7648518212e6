#include "SendBio.h"

#include <cerrno>
#include <cstdint>
#include <sys/socket.h>

namespace {

int sendWrite(BIO *bio, const char *data, int length)
{
    BIO_clear_retry_flags(bio);
    if (length <= 0)
        return 0;
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    ssize_t sent;
    do {
        sent = ::send(fd, data, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        return -1;
    }
    return static_cast<int>(sent);
}

long sendCtrl(BIO *, int cmd, long, void *)
{
    // A flush has nothing to do: nothing is held back here.
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int sendCreate(BIO *bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD *sendMethod()
{
    static BIO_METHOD *const method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "lanferry send");
        if (m) {
            BIO_meth_set_write(m, sendWrite);
            BIO_meth_set_ctrl(m, sendCtrl);
            BIO_meth_set_create(m, sendCreate);
        }
        return m;
    }();
    return method;
}

} // namespace

BIO *newSendBio(int fd)
{
    const BIO_METHOD *method = sendMethod();
    if (!method)
        return nullptr;
    BIO *bio = BIO_new(method);
    if (bio)
        BIO_set_data(bio, reinterpret_cast<void *>(static_cast<intptr_t>(fd)));
    return bio;
}
