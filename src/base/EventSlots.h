// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>

namespace tavrin::base {

// Storage for an event type that is posted at the frame rate: a toolkit deletes
// every posted event after delivery, so such an event's operator new and delete take
// a slot from a fixed set instead of the heap. The heap stands in only when every
// slot is taken. Any thread may take a slot and any thread give it back. Name it
// only where `Event` is complete (the event's .cpp file).
template <class Event, int Count> class EventSlots {
    static_assert(Count > 0 && Count < 32);

  public:
    static void* take(std::size_t size) {
        if (size <= sizeof(Slot)) {
            uint32_t taken = taken_.load(std::memory_order_relaxed);
            while ((taken & kAll) != kAll) {
                const int slot = std::countr_one(taken);
                if (taken_.compare_exchange_weak(taken, taken | (1u << slot), std::memory_order_acquire,
                                                 std::memory_order_relaxed))
                    return slots_[slot].bytes;
            }
        }
        heapEvents_.fetch_add(1, std::memory_order_relaxed);
        return ::operator new(size);
    }

    static void give(void* event) noexcept {
        std::less<const void*> before;
        if (before(event, &slots_[0]) || !before(event, &slots_[Count])) {
            ::operator delete(event);
            return;
        }
        const auto slot = static_cast<const Slot*>(event) - slots_;
        taken_.fetch_and(~(1u << slot), std::memory_order_release);
    }

    // Events that had to come from the heap.
    static std::size_t heapEvents() { return heapEvents_.load(std::memory_order_relaxed); }

  private:
    static constexpr uint32_t kAll = (1u << Count) - 1;
    struct Slot {
        alignas(Event) unsigned char bytes[sizeof(Event)];
    };
    inline static Slot slots_[Count];
    inline static std::atomic<uint32_t> taken_{0};
    inline static std::atomic<std::size_t> heapEvents_{0};
};

} // namespace tavrin::base
