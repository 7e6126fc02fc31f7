// oms_link_manager.h - the process's map from peer module number to the registered link.
//
// Binds and unbinds come from the reactor thread (registration and close), lookups from the
// back-communication job's thread; every access holds the map's one lock. A lookup hands out a
// reference that keeps the link alive after the lock is released, so the job can queue on it
// while the reactor closes it. Links are reference counted the ACE way (add_reference /
// remove_reference, the last one frees).
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "VorlenTypes.h"

// A counted reference to a link, released when it goes out of scope.
template <class Link>
class LinkHold {
public:
    LinkHold() = default;
    explicit LinkHold(Link* held) : link_(held) {} // takes over one reference already added
    LinkHold(LinkHold&& other) noexcept : link_(std::exchange(other.link_, nullptr)) {}
    LinkHold& operator=(LinkHold&& other) noexcept {
        if (this != &other) {
            release();
            link_ = std::exchange(other.link_, nullptr);
        }
        return *this;
    }
    LinkHold(const LinkHold&) = delete;
    LinkHold& operator=(const LinkHold&) = delete;
    ~LinkHold() { release(); }

    Link* get() const { return link_; }
    Link* operator->() const { return link_; }
    explicit operator bool() const { return link_ != nullptr; }

private:
    void release() {
        if (link_ != nullptr) {
            std::exchange(link_, nullptr)->remove_reference();
        }
    }
    Link* link_ = nullptr;
};

template <class Link>
class OmsLinkMap {
public:
    // Binds module to link; false when the module is bound already (to this or another link).
    bool bind(WORD32 module, Link* link) {
        std::lock_guard<std::mutex> guard(lock_);
        return links_.emplace(module, link).second;
    }

    // Unbinds module only while it is bound to this very link (a refused second registration
    // must not unbind the first). False when nothing was unbound.
    bool unbind(WORD32 module, const Link* link) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = links_.find(module);
        if (it == links_.end() || it->second != link) {
            return false;
        }
        links_.erase(it);
        return true;
    }

    // The link bound to module, held; empty when none.
    LinkHold<Link> find(WORD32 module) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = links_.find(module);
        if (it == links_.end()) {
            return LinkHold<Link>();
        }
        it->second->add_reference();
        return LinkHold<Link>(it->second);
    }

    std::size_t total_size() {
        std::lock_guard<std::mutex> guard(lock_);
        return links_.size();
    }

private:
    std::mutex lock_;
    std::unordered_map<WORD32, Link*> links_;
};
