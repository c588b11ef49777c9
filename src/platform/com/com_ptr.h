// ComPtr<T>: a counted reference to a COM interface. It releases what it holds when it
// goes or is reset, so a holder's references go with the holder.
#pragma once

#include "platform/com/com.h"

#include <cstddef>
#include <utility>

namespace fetchora::com {

template <typename T> class ComPtr final {
public:
    ComPtr() = default;
    // Takes a reference of its own to pointer (AddRef).
    explicit ComPtr(T* pointer) : pointer_(pointer) {
        if (pointer_ != nullptr)
            pointer_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.pointer_) {}
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) {
        if (this != &other)
            ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    // Holds pointer instead, with a reference of its own (null empties the holder).
    ComPtr& operator=(T* pointer) {
        ComPtr(pointer).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        reset();
        return *this;
    }
    ~ComPtr() { reset(); }

    // Adopts a reference the caller already counted (no AddRef).
    static ComPtr adopt(T* pointer) {
        ComPtr result;
        result.pointer_ = pointer;
        return result;
    }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    friend bool operator==(const ComPtr& holder, std::nullptr_t) {
        return holder.pointer_ == nullptr;
    }

    // Releases the reference held, if any.
    void reset() {
        if (T* old = std::exchange(pointer_, nullptr))
            old->Release();
    }
    // Gives up the reference without releasing it.
    T* detach() { return std::exchange(pointer_, nullptr); }
    // For out-parameters of QueryInterface and the like: releases what is held and
    // returns the slot to fill.
    T** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void swap(ComPtr& other) noexcept { std::swap(pointer_, other.pointer_); }

    // Asks the object for another of its interfaces; empty when it has none.
    template <typename U> ComPtr<U> as(const IID& iid) const {
        ComPtr<U> result;
        if (pointer_ != nullptr)
            pointer_->QueryInterface(iid, result.putVoid());
        return result;
    }

private:
    T* pointer_ = nullptr;
};

} // namespace fetchora::com
