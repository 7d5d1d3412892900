// A copyable holder of one counted reference, for the download service's own bookkeeping and
// for the notifications it queues on the pump (which must be copyable).
#pragma once

#include <utility>

namespace urlmon {

template <class T> class Ref {
public:
    Ref() = default;
    // Takes a new reference to p.
    explicit Ref(T* p) : m_p(p) {
        if (m_p)
            m_p->AddRef();
    }
    // Takes over a reference that the caller already holds.
    static Ref Adopt(T* p) {
        Ref ref;
        ref.m_p = p;
        return ref;
    }
    Ref(const Ref& other) : Ref(other.m_p) {}
    Ref(Ref&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() {
        if (m_p)
            std::exchange(m_p, nullptr)->Release();
    }
    T* release() { return std::exchange(m_p, nullptr); }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

} // namespace urlmon
