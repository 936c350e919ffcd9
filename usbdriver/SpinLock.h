// A lock for short critical sections that are taken very often: the state of
// an open device, locked once per one-byte read. Far cheaper than a mutex when
// nobody else holds it; a waiter yields its time slice instead of sleeping.
#ifndef USBDRIVER_SPINLOCK_H
#define USBDRIVER_SPINLOCK_H

#include <atomic>
#include <thread>

namespace usbdriver {

class SpinLock {
  public:
    void lock() {
        while (m_held.exchange(true, std::memory_order_acquire))
            while (m_held.load(std::memory_order_relaxed))
                std::this_thread::yield();
    }
    bool try_lock() { return !m_held.exchange(true, std::memory_order_acquire); }
    void unlock() { m_held.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> m_held{false};
};

} // namespace usbdriver

#endif
