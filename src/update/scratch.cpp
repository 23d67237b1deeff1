// The process-wide scratch block, lent to one holder at a time.

#include "update/scratch.h"

#include <new>

namespace {

// The process-wide scratch block and whether it is lent.
struct ScratchBlock {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    bool lent = false;
};
ScratchBlock g_scratch;

} // namespace

// ---- Scratch block ----------------------------------------------------------

ScratchBytes::ScratchBytes(size_t size) : size_(size) {
    if (size == 0) return;
    if (!g_scratch.lent) {
        if (g_scratch.size < size) {
            // Freed before the larger block is taken, so both are never held.
            g_scratch.bytes.reset();
            g_scratch.size = 0;
            g_scratch.bytes.reset(new (std::nothrow) uint8_t[size]);
            if (!g_scratch.bytes) return;
            g_scratch.size = size;
        }
        g_scratch.lent = true;
        shared_ = true;
        data_ = g_scratch.bytes.get();
        return;
    }
    own_.reset(new (std::nothrow) uint8_t[size]);
    data_ = own_.get();
}

ScratchBytes::~ScratchBytes() {
    if (shared_) g_scratch.lent = false;
}

void ReleaseScratchBlock() {
    if (g_scratch.lent) return;
    g_scratch.bytes.reset();
    g_scratch.size = 0;
}

size_t ScratchBlockSize() { return g_scratch.size; }
