#include "core/Semaphore.h"

#include <cerrno>
#include <climits>

namespace Quorvane {
namespace Core {

Semaphore::Semaphore(uint64_t count) : handle_(new sem_t) {
    // sem_init takes an unsigned int no larger than SEM_VALUE_MAX.
    unsigned int initial =
        count > static_cast<uint64_t>(SEM_VALUE_MAX) ? SEM_VALUE_MAX : static_cast<unsigned int>(count);
    sem_init(handle_, 0, initial);
}

Semaphore::~Semaphore() {
    sem_destroy(handle_);
    delete handle_;
}

void Semaphore::wait() {
    while (sem_wait(handle_) != 0) {
        if (errno != EINTR) return;
    }
}

void Semaphore::signal(int32_t n) {
    for (int32_t i = 0; i < n; ++i) sem_post(handle_);
}

}  // namespace Core
}  // namespace Quorvane
