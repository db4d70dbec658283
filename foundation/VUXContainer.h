// The foundation's containers: the abstract VUXContainer<T> (count, capacity, the resizable flag
// and the public operations over protected hooks), the doubly linked VUXList<T> and the
// contiguous VUXArray<T>. Ranges name items inclusively: [left, right].
//
// A container of VUXObject* owns the objects it holds: it deletes them when it removes them all,
// when it shrinks and when it is destroyed; a copy of it holds clones, and the items of a
// range moved out of it belong to the new container. remove(index) hands the removed object to
// the caller. Containers of any other T hold copies of the values (pointers are not owned).
//
// Unlike the rest of the foundation, item access throws std::out_of_range for an index that
// names no item, as do remove(index) and _insert at such an index.
#pragma once

#include "VUXObject.h"
#include "VUXRawData.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace VUX {

namespace detail {

// The item in its text form, as the readable description shows it.
template <typename T> void describeItem(std::ostream& stream, T const& item) {
    if constexpr (std::is_same_v<T, char*> || std::is_same_v<T, const char*>)
        stream << (item ? item : "NULL");
    else if constexpr (std::is_pointer_v<T>)
        stream << static_cast<const void*>(item);
    else
        stream << item;
}

// The item in the binary form of a container: an object writes its own stream form, anything
// else the bytes of its value in host order.
template <typename T> void streamItem(std::ostream& stream, T const& item) {
    if constexpr (std::is_same_v<T, VUXObject*>) {
        if (item) item->write(stream);
    } else if constexpr (std::is_base_of_v<VUXObject, T>) {
        item.write(stream);
    } else {
        static_assert(std::is_trivially_copyable_v<T>);
        stream.write(reinterpret_cast<const char*>(&item), sizeof(T));
    }
}

} // namespace detail

template <typename T> class VUXContainer : public VUXObject {
  public:
    // Whether the container owns the objects it holds.
    static constexpr bool kOwnsObjects = std::is_same_v<T, VUXObject*>;

    ~VUXContainer() override = default;

    static const char* objectName() { return "VUXContainer"; }
    const char* className() const override { return "VUXContainer"; }
    bool isA(const char* name) const override {
        return VUXObject::isA(name) || (name && std::strcmp(name, "VUXContainer") == 0);
    }

    virtual int64_t count() const { return _count; }
    virtual int64_t capacity() const { return _capacity; }
    virtual bool isResizable() const { return _resizable; }
    virtual bool isEmpty() const { return _count == 0; }
    virtual bool isFilled() const { return _count == _capacity; }
    // False when not resizable, when n is the capacity already, or when n is negative (-50).
    virtual bool resize(int64_t n) {
        if (!_resizable || n == _capacity) return false;
        if (n < 0) {
            _error = vuxParamErr;
            return false;
        }
        if (!_resize(n, true)) return false;
        _capacity = n;
        return true;
    }
    // A container of objects takes ownership of an appended pointer.
    virtual bool append(T const& item) {
        if (_count < _capacity || _resizable) return _append(item);
        return false;
    }
    // A segment of at least two items inside the container: left >= right sets -50, a
    // segment outside the items 80.
    virtual bool _isSuitableSegment(VUXRange<int64_t> const& range) {
        if (range.left >= range.right) {
            _error = vuxParamErr;
            return false;
        }
        if (range.left < 0 || range.right >= _count) {
            _error = vuxSegmentErr;
            return false;
        }
        return true;
    }

    T& item(int64_t i) { return _indexedItem(i); }
    T const& item(int64_t i) const { return _indexedItem(i); }
    T& operator[](int64_t i) { return _indexedItem(i); }
    T const& operator[](int64_t i) const { return _indexedItem(i); }
    // The removed item, held by the container until the next removal.
    T& remove(int64_t i) { return _remove(i); }

    // Containers of objects only.
    // Appends a clone of the object.
    bool append(VUXObject const& object) requires kOwnsObjects {
        VUXObject* copy = object.clone();
        return append(copy, true);
    }
    // Refuses an invalid object (deleting it when asked to) and, when the container is full and
    // not resizable, any object; on success the container owns the object. When appending fails
    // and `deleteIfRefused` is set, the object is deleted and the pointer nulled.
    bool append(VUXObject*& object, bool deleteIfRefused) requires kOwnsObjects {
        int32_t err = vuxNoErr;
        if (!VUXObject::isValidInstance(object, err, deleteIfRefused)) return false;
        if (_count >= _capacity && !_resizable) return false;
        if (_append(object)) return true;
        if (deleteIfRefused) {
            delete object;
            object = nullptr;
        }
        return false;
    }
    // As append, before item `index`, which must exist.
    bool insert(int64_t index, VUXObject*& object, bool deleteIfRefused) requires kOwnsObjects {
        int32_t err = vuxNoErr;
        if (!VUXObject::isValidInstance(object, err, deleteIfRefused)) return false;
        const int64_t before = _count;
        try {
            _insert(index, object);
        } catch (std::out_of_range const&) {
            _error = vuxParamErr;
        }
        if (_count != before) return true;
        if (deleteIfRefused) {
            delete object;
            object = nullptr;
        }
        return false;
    }

    // Hooks that the list and the array implement. The range operations are public: they hand
    // the caller a new container of the items [left, right], or null (error -50 when left >
    // right, -107 when an end names no item).
    virtual bool _resize(int64_t n, bool keep) = 0;
    virtual void _removeAll() = 0;
    virtual int64_t _indexOfItem(T const& item) const = 0;
    virtual VUXContainer* _remove(VUXRange<int64_t> const& range) = 0;
    virtual VUXContainer* _copy(VUXRange<int64_t> const& range) const = 0;
    // The same on a non-const container (a range is an object too: this keeps the call apart
    // from the root's _copy hook).
    VUXContainer* _copy(VUXRange<int64_t> const& range) { return std::as_const(*this)._copy(range); }
    virtual T& _indexedItem(int64_t i) = 0;
    virtual T const& _indexedItem(int64_t i) const = 0;
    virtual void _insert(int64_t i, T const& item) = 0;
    virtual T& _remove(int64_t i) = 0;
    virtual bool _append(T const& item) = 0;

  protected:
    VUXContainer()
        : _outOfRange(kOwnsObjects ? "Out of Range Exception raised from a Container of Objects Object"
                                   : "Out of Range Exception raised from a Container Object"),
          _lastRemoved(), _count(0), _capacity(0), _resizable(true) {}
    VUXContainer(VUXContainer const& other)
        : VUXObject(other), _outOfRange(other._outOfRange), _lastRemoved(), _count(0), _capacity(0),
          _resizable(true) {}
    VUXContainer& operator=(VUXContainer const& other) {
        copy(other);
        return *this;
    }

    [[noreturn]] void raiseOutOfRange() const { throw std::out_of_range(_outOfRange); }

    // A range of existing items, left <= right; sets the error otherwise.
    bool checkRange(VUXRange<int64_t> const& range) {
        if (range.left > range.right) {
            _error = vuxParamErr;
            return false;
        }
        if (range.left < 0 || range.right >= _count) {
            _error = vuxNullParamErr;
            return false;
        }
        return true;
    }

    // What ownership asks for when an item is dropped or duplicated.
    static void disposeItem(T& item) {
        if constexpr (kOwnsObjects) {
            delete item;
            item = nullptr;
        } else {
            item = T();
        }
    }
    static T duplicateItem(T const& item) {
        if constexpr (kOwnsObjects)
            return item ? item->clone() : nullptr;
        else
            return item;
    }

    void _readableDescription(std::ostream& stream) const override {
        stream << "Count=" << _count << ";Capacity=" << _capacity << ";\n";
        for (int64_t i = 0; i < _count; ++i) {
            try {
                T const& value = _indexedItem(i);
                if constexpr (kOwnsObjects) {
                    if (!value) {
                        stream << "item[" << i << "]=NULL;\n";
                        continue;
                    }
                    stream << "item[" << i << "]=";
                    value->readableDescription(stream);
                    stream << ";\n";
                } else {
                    stream << "item[" << i << "]=";
                    detail::describeItem(stream, value);
                    stream << ";\n";
                }
            } catch (std::out_of_range const&) {
                stream << "Out of Range Exception at index " << i << ";\n";
                return;
            }
        }
    }

    // ".VCN", the format version 1 (16-bit) and the count (64-bit), both in host order, then
    // the items in index order.
    void _toStream(std::ostream& stream) const override {
        const uint16_t version = 1;
        const int64_t n = _count;
        stream.write(".VCN", 4);
        stream.write(reinterpret_cast<const char*>(&version), sizeof version);
        stream.write(reinterpret_cast<const char*>(&n), sizeof n);
        for (int64_t i = 0; i < n; ++i) {
            try {
                detail::streamItem(stream, _indexedItem(i));
            } catch (std::out_of_range const&) {
                return;
            }
        }
    }

    // Equal counts and equal items index by index (objects are compared by pointer).
    bool _compare(VUXObject const& other) const override {
        auto const& o = dynamic_cast<VUXContainer const&>(other);
        if (o._count != _count) return false;
        for (int64_t i = 0; i < _count; ++i)
            if (!(_indexedItem(i) == o._indexedItem(i))) return false;
        return true;
    }

    // Takes the other's capacity and copies of its items (clones of its objects). A container
    // that is not resizable copies only from one of the same capacity.
    void _copy(VUXObject const& other) override {
        auto const& o = dynamic_cast<VUXContainer const&>(other);
        if (o._capacity != _capacity && !_resizable) return;
        _removeAll();
        _resize(o._capacity, false);
        _capacity = o._capacity;
        for (int64_t i = 0; i < o._count; ++i) {
            T value = duplicateItem(o._indexedItem(i));
            if (!_append(value)) disposeItem(value);
        }
    }

    std::out_of_range _outOfRange;
    T _lastRemoved;
    int64_t _count;
    int64_t _capacity;
    bool _resizable;
};

template <typename T> struct VUXListItem {
    T value;
    VUXListItem* previous;
    VUXListItem* next;
};

template <typename T> class VUXList : public VUXContainer<T> {
    using Base = VUXContainer<T>;

  public:
    explicit VUXList(int64_t capacity = 0, bool resizable = true) : _head(nullptr), _tail(nullptr) {
        if (capacity > 0 && _resize(capacity, true)) this->_capacity = capacity;
        this->_resizable = resizable;
    }
    VUXList(VUXList const& other) : Base(other), _head(nullptr), _tail(nullptr) {
        this->copy(other);
        this->_resizable = other._resizable;
    }
    VUXList& operator=(VUXList const& other) {
        this->copy(other);
        return *this;
    }
    ~VUXList() override { truncate(0); }

    static const char* objectName() { return "VUXList"; }
    const char* className() const override { return "VUXList"; }
    bool isA(const char* name) const override {
        return Base::isA(name) || (name && std::strcmp(name, "VUXList") == 0);
    }

    bool _resize(int64_t n, bool) override {
        truncate(n);
        return true;
    }
    void _removeAll() override {
        truncate(0);
        this->_capacity = 0;
    }
    int64_t _indexOfItem(T const& item) const override {
        int64_t i = 0;
        for (auto* node = _head; node; node = node->next, ++i)
            if (node->value == item) return i;
        return -1;
    }
    VUXList* _remove(VUXRange<int64_t> const& range) override {
        if (!this->checkRange(range)) return nullptr;
        const int64_t n = range.right + 1 - range.left;
        auto* removed = new (std::nothrow) VUXList(n, false);
        if (!removed) {
            this->_error = vuxMemFullErr;
            return nullptr;
        }
        auto* first = _findItemByIndex(range.left);
        auto* last = _findItemByIndex(range.right);
        // Unlink the run [first, last] and hand its nodes over as they are.
        auto* before = first->previous;
        auto* after = last->next;
        if (before)
            before->next = after;
        else
            _head = after;
        if (after)
            after->previous = before;
        else
            _tail = before;
        first->previous = nullptr;
        last->next = nullptr;
        removed->_head = first;
        removed->_tail = last;
        removed->_count = n;
        this->_count -= n;
        return removed;
    }
    VUXList* _copy(VUXRange<int64_t> const& range) { return std::as_const(*this)._copy(range); }
    VUXList* _copy(VUXRange<int64_t> const& range) const override {
        if (range.left > range.right || range.left < 0 || range.right >= this->_count) return nullptr;
        const int64_t n = range.right + 1 - range.left;
        auto* copied = new (std::nothrow) VUXList(n, false);
        if (!copied) return nullptr;
        auto* node = _findItemByIndex(range.left);
        for (int64_t i = 0; i < n && node; ++i, node = node->next) {
            T value = Base::duplicateItem(node->value);
            if (!copied->_append(value)) Base::disposeItem(value);
        }
        copied->_resizable = this->_resizable;
        return copied;
    }
    T& _indexedItem(int64_t i) override {
        auto* node = _findItemByIndex(i);
        if (!node) this->raiseOutOfRange();
        return node->value;
    }
    T const& _indexedItem(int64_t i) const override {
        auto* node = _findItemByIndex(i);
        if (!node) this->raiseOutOfRange();
        return node->value;
    }
    // The new item goes before item i, which must exist: use append to add at the end.
    void _insert(int64_t i, T const& item) override {
        auto* at = _findItemByIndex(i);
        if (!at) this->raiseOutOfRange();
        if (this->isFilled() && !this->resize(this->_capacity + 1)) this->raiseOutOfRange();
        auto* node = new (std::nothrow) VUXListItem<T>{item, at->previous, at};
        if (!node) this->raiseOutOfRange();
        if (at->previous)
            at->previous->next = node;
        else
            _head = node;
        at->previous = node;
        ++this->_count;
    }
    T& _remove(int64_t i) override {
        auto* node = _findItemByIndex(i);
        if (!node) this->raiseOutOfRange();
        this->_lastRemoved = node->value;
        unlink(node);
        delete node;
        --this->_count;
        return this->_lastRemoved;
    }
    bool _append(T const& item) override {
        if (this->_count >= this->_capacity && !this->resize(this->_capacity + 1)) return false;
        auto* node = new (std::nothrow) VUXListItem<T>{item, _tail, nullptr};
        if (!node) {
            this->_error = vuxMemFullErr;
            return false;
        }
        if (_tail)
            _tail->next = node;
        else
            _head = node;
        _tail = node;
        ++this->_count;
        return true;
    }

  protected:
    using Base::_copy;
    VUXObject* _clone() const override { return new (std::nothrow) VUXList(*this); }

  private:
    VUXListItem<T>* _findItemByIndex(int64_t i) const {
        const int64_t n = this->_count;
        if (i < 0 || i >= n) return nullptr;
        if (i == 0) return _head;
        if (i == n - 1) return _tail;
        VUXListItem<T>* node;
        if (i >= n / 2) {
            node = _tail;
            for (int64_t k = n - 1; k > i; --k)
                node = node->previous;
        } else {
            node = _head;
            for (int64_t k = 0; k < i; ++k)
                node = node->next;
        }
        return node;
    }
    void unlink(VUXListItem<T>* node) {
        if (node->previous)
            node->previous->next = node->next;
        else
            _head = node->next;
        if (node->next)
            node->next->previous = node->previous;
        else
            _tail = node->previous;
    }
    // Drops items from the tail until at most n are left.
    void truncate(int64_t n) {
        if (n < 0) n = 0;
        while (this->_count > n && _tail) {
            auto* node = _tail;
            unlink(node);
            Base::disposeItem(node->value);
            delete node;
            --this->_count;
        }
    }

    VUXListItem<T>* _head;
    VUXListItem<T>* _tail;
};

template <typename T> class VUXArray : public VUXContainer<T> {
    using Base = VUXContainer<T>;

  public:
    explicit VUXArray(int64_t capacity = 0, bool resizable = true) : _buffer(nullptr), _growth(1) {
        if (capacity > 0 && _resize(capacity, true)) this->_capacity = capacity;
        this->_resizable = resizable;
    }
    VUXArray(VUXArray const& other) : Base(other), _buffer(nullptr), _growth(1) {
        this->copy(other);
        this->_resizable = other._resizable;
    }
    VUXArray& operator=(VUXArray const& other) {
        this->copy(other);
        return *this;
    }
    ~VUXArray() override { dropAll(); }

    static const char* objectName() { return "VUXArray"; }
    const char* className() const override { return "VUXArray"; }
    bool isA(const char* name) const override {
        return Base::isA(name) || (name && std::strcmp(name, "VUXArray") == 0);
    }
    // Valid once it has storage.
    bool isValid() const override { return _buffer != nullptr; }

    // The storage: capacity() slots, null without storage.
    T* data() { return _buffer; }
    const T* data() const { return _buffer; }

    // A new buffer of n slots. With keep the first min(count, n) items move into it (objects
    // beyond n are deleted); without keep the container is emptied. On failure nothing changes.
    bool _resize(int64_t n, bool keep) override {
        if (n < 0) {
            this->_error = vuxParamErr;
            return false;
        }
        T* fresh = nullptr;
        if (n > 0) {
            if (static_cast<uint64_t>(n) > SIZE_MAX / sizeof(T) / 2) {
                this->_error = vuxMemFullErr;
                return false;
            }
            fresh = new (std::nothrow) T[static_cast<size_t>(n)]();
            if (!fresh) {
                this->_error = vuxMemFullErr;
                return false;
            }
        }
        int64_t kept = 0;
        if (keep) {
            kept = this->_count < n ? this->_count : n;
            for (int64_t i = 0; i < kept; ++i) {
                fresh[i] = _buffer[i];
                if constexpr (Base::kOwnsObjects) _buffer[i] = nullptr; // moved, not shared
            }
        }
        for (int64_t i = 0; i < this->_count; ++i)
            Base::disposeItem(_buffer[i]);
        delete[] _buffer;
        _buffer = fresh;
        this->_count = kept;
        return true;
    }
    void _removeAll() override {
        dropAll();
        this->_lastRemoved = T();
    }
    int64_t _indexOfItem(T const& item) const override {
        for (int64_t i = 0; i < this->_count; ++i)
            if (_buffer[i] == item) return i;
        return -1;
    }
    VUXArray* _remove(VUXRange<int64_t> const& range) override {
        if (!this->checkRange(range)) return nullptr;
        const int64_t n = range.right + 1 - range.left;
        auto* removed = new (std::nothrow) VUXArray(n, false);
        if (!removed || !removed->isValid()) {
            delete removed;
            this->_error = vuxMemFullErr;
            return nullptr;
        }
        for (int64_t i = range.left; i <= range.right; ++i) {
            if constexpr (Base::kOwnsObjects) {
                // The objects themselves change hands.
                if (_buffer[i]) removed->_append(_buffer[i]);
                _buffer[i] = nullptr;
            } else {
                removed->_append(_buffer[i]);
            }
        }
        for (int64_t i = range.right + 1; i < this->_count; ++i)
            _buffer[i - n] = _buffer[i];
        for (int64_t i = this->_count - n; i < this->_count; ++i)
            _buffer[i] = T();
        this->_count -= n;
        return removed;
    }
    VUXArray* _copy(VUXRange<int64_t> const& range) { return std::as_const(*this)._copy(range); }
    VUXArray* _copy(VUXRange<int64_t> const& range) const override {
        if (range.left > range.right || range.left < 0 || range.right >= this->_count) return nullptr;
        const int64_t n = range.right + 1 - range.left;
        auto* copied = new (std::nothrow) VUXArray(n, false);
        if (!copied) return nullptr;
        for (int64_t i = range.left; i <= range.right; ++i) {
            T value = Base::duplicateItem(_buffer[i]);
            if (!copied->_append(value)) Base::disposeItem(value);
        }
        copied->_resizable = this->_resizable;
        return copied;
    }
    T& _indexedItem(int64_t i) override {
        if (i < 0 || i >= this->_count) this->raiseOutOfRange();
        return _buffer[i];
    }
    T const& _indexedItem(int64_t i) const override {
        if (i < 0 || i >= this->_count) this->raiseOutOfRange();
        return _buffer[i];
    }
    void _insert(int64_t i, T const& item) override {
        if (i < 0 || i >= this->_count) this->raiseOutOfRange();
        if (this->_count >= this->_capacity && !this->resize(this->_capacity + _growth))
            this->raiseOutOfRange();
        for (int64_t k = this->_count; k > i; --k)
            _buffer[k] = _buffer[k - 1];
        _buffer[i] = item;
        ++this->_count;
    }
    // An object removed from a container of objects is handed to the caller, not deleted.
    T& _remove(int64_t i) override {
        if (i < 0 || i >= this->_count) this->raiseOutOfRange();
        this->_lastRemoved = _buffer[i];
        for (int64_t k = i + 1; k < this->_count; ++k)
            _buffer[k - 1] = _buffer[k];
        _buffer[this->_count - 1] = T();
        --this->_count;
        return this->_lastRemoved;
    }
    bool _append(T const& item) override {
        if (this->_count >= this->_capacity && !this->resize(this->_capacity + _growth)) {
            this->_error = vuxMemFullErr;
            return false;
        }
        _buffer[this->_count] = item;
        ++this->_count;
        return true;
    }

  protected:
    using Base::_copy;
    VUXObject* _clone() const override { return new (std::nothrow) VUXArray(*this); }

  private:
    void dropAll() {
        for (int64_t i = 0; i < this->_count; ++i)
            Base::disposeItem(_buffer[i]);
        delete[] _buffer;
        _buffer = nullptr;
        this->_count = 0;
        this->_capacity = 0;
    }

    T* _buffer;
    int64_t _growth;
};

} // namespace VUX
