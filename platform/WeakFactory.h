#pragma once
// Weak pointers to an object for callbacks that may outlive it (a reply that comes after the object has
// gone, work queued for later): a callback locks its pointer and does nothing once the object is gone or has
// invalidated what it handed out. One thread: a pointer is not locked while its object goes.
#include <memory>

namespace korvane {

template <class T> class TWeakFactory {
public:
    explicit TWeakFactory(T* owner) : FOwner(Own(owner)) {}
    TWeakFactory(const TWeakFactory&) = delete;
    TWeakFactory& operator=(const TWeakFactory&) = delete;
    ~TWeakFactory() = default;

    std::weak_ptr<T> Weak() const { return FOwner; }
    // The pointers handed out so far no longer reach the owner (an owner that goes calls it first thing, so
    // that nothing its clearing up sets off reaches it half gone).
    void Invalidate() { FOwner = Own(FOwner.get()); }

private:
    static std::shared_ptr<T> Own(T* owner) {
        return std::shared_ptr<T>(owner, [](T*) {});
    }
    std::shared_ptr<T> FOwner;
};

} // namespace korvane
