// Process-wide identifier texts and the counter behind them.
#pragma once

#include <cstdint>
#include <string>

namespace Quorvane {
namespace Core {

class Semaphore;

class Unique {
public:
    // Starts at 1 when the library is loaded; only changed under kUniqueLock.
    static uint64_t kUniqueCounter;
    // Created with count 1 during static initialisation and never destroyed.
    static Semaphore* kUniqueLock;

    // Fills buffer with length - 1 random characters of [0-9A-Za-z] and a
    // terminating zero. Nothing happens for length < 1.
    static void genRandom(char* buffer, int32_t length);
    // "<15 alphanumerics>---<epoch seconds>---<counter>"
    static std::string GenerateID();
    // The next counter value in decimal.
    static std::string getUniqueCounter();
};

}  // namespace Core
}  // namespace Quorvane
