// Counting semaphore of one process: count 1 serves as a lock, count 0 as a
// one-shot event.
#pragma once

#include <semaphore.h>

#include <cstdint>

namespace Quorvane {
namespace Core {

class Semaphore {
public:
    explicit Semaphore(uint64_t count);
    virtual ~Semaphore();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Blocks until the count is above 0, then takes one. Interrupted waits are
    // resumed; any other failure returns without having taken the count.
    void wait();
    // Adds n to the count, one post at a time; nothing for n <= 0.
    void signal(int32_t n = 1);

private:
    sem_t* handle_;
};

}  // namespace Core
}  // namespace Quorvane
