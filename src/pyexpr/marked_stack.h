// A stack that can be put back as it was at a mark without being copied there.
// Changes only ever touch its top, so an element from before the mark is saved
// the first time it is changed or popped, and putting back restores the saved
// ones: a mark costs nothing, and putting back costs what changed since.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pyexpr/internal_fault.h"

namespace lumra::pyexpr {

template <class T>
class MarkedStack {
public:
    struct Mark {
        size_t size = 0;
        uint64_t version = 0;
        uint64_t id = 0;
    };

    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }
    const T& back() const { return items_.back(); }
    const T& operator[](size_t i) const { return items_[i]; }

    // Changes with every change of the contents and comes back with them when
    // put back to a mark: equal versions mean equal contents.
    uint64_t version() const { return version_; }

    void push_back(const T& item) {
        changed();
        items_.push_back(item);
    }
    void pop_back() {
        save_back();
        changed();
        items_.pop_back();
    }
    // The top, to be changed in place.
    T& back_for_update() {
        save_back();
        changed();
        return items_.back();
    }

    // Only the latest mark can be put back to (any number of times).
    Mark mark() {
        saved_.clear();
        intact_ = items_.size();
        return Mark{items_.size(), version_, ++marks_};
    }
    void put_back(const Mark& mark) {
        if (mark.id != marks_) internal_fault("internal error: a stack put back to a mark that is not its latest");
        items_.resize(intact_);
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) items_.push_back(*it);
        saved_.clear();
        intact_ = items_.size();
        version_ = mark.version;
    }

private:
    void changed() { version_ = ++changes_; }
    void save_back() {
        if (items_.size() <= intact_) save_back_once();
    }
    // Out of line: the lexer's hot paths that change the top stay small.
    [[gnu::noinline]] void save_back_once() {
        saved_.push_back(items_.back());
        intact_ = items_.size() - 1;
    }

    std::vector<T> items_;
    std::vector<T> saved_;  // the elements from intact_ up to the mark's size, top first
    size_t intact_ = 0;     // items_[0, intact_) are as they were at the mark
    uint64_t version_ = 0;
    uint64_t changes_ = 0;
    uint64_t marks_ = 0;  // the latest mark's id
};

}  // namespace lumra::pyexpr
