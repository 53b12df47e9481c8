#include "core/Unique.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/Semaphore.h"

namespace Quorvane {
namespace Core {

uint64_t Unique::kUniqueCounter = 1;
Semaphore* Unique::kUniqueLock = new Semaphore(1);

namespace {
constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetSize = sizeof kAlphabet - 1;
constexpr int32_t kRandomPartLength = 16;  // 15 characters and the terminator
}  // namespace

void Unique::genRandom(char* buffer, int32_t length) {
    if (buffer == nullptr || length < 1) return;
    for (int32_t i = 0; i < length - 1; ++i) buffer[i] = kAlphabet[rand() % kAlphabetSize];
    buffer[length - 1] = '\0';
}

std::string Unique::GenerateID() {
    // Reseeded with the second at every call: identifiers of the same second
    // share their random part and differ by the counter.
    srand(static_cast<unsigned>(time(nullptr)));
    char random[kRandomPartLength];
    genRandom(random, kRandomPartLength);

    kUniqueLock->wait();
    uint64_t counter = kUniqueCounter;
    kUniqueCounter = counter + 1;
    char text[128];
    snprintf(text, sizeof text, "%s---%ld---%" PRIu64, random, static_cast<long>(time(nullptr)), counter);
    kUniqueLock->signal(1);
    return text;
}

// Identifiers and counter texts may carry the same number (an identifier takes
// the value the counter holds, a counter text the one after it). Their texts
// never collide, and prefixes must stay consecutive: a prefix 7& is followed by
// the generated layer id 7&layer_8.
std::string Unique::getUniqueCounter() {
    kUniqueLock->wait();
    uint64_t value = ++kUniqueCounter;
    kUniqueLock->signal(1);
    return std::to_string(value);
}

}  // namespace Core
}  // namespace Quorvane
