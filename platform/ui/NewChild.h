// Creates a widget or other QObject that its Qt parent owns from then on: the one place where such
// objects are allocated, so that every other file is free of new.
#pragma once

#include <memory>
#include <utility>

// The object is constructed with args (whose last one is normally the parent) and handed over;
// the caller must make sure it has a parent, which deletes it.
template <typename T, typename... Args>
T* NewChild(Args&&... args) {
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}
