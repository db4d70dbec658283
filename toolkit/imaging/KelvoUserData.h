// A user data list: typed, indexed items of raw bytes or language-tagged text. The list either
// borrows the user data of a movie, track or media (which lives as long as its owner) or owns
// user data it made or copied itself (empty lists, copies, the metadata of sequence grabbers and
// graphics importers and exporters, lists read from a file), which it disposes of.
//
// A list saves itself as a toolkit object document of type 'UDAT' whose first node carries the
// flattened user data.
//
// Toolkit indexes here are the platform's: item indexes count from 1 within a type; type
// positions (ListType) count from 0. Unless said otherwise, a list without user data answers 0,
// false or null and leaves its status alone.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformMemory.h"
#include "PlatformObjects.h"
#include "PlatformUserData.h"

class Kelvo_UDataList : public Kelvo_QTObj {
  public:
    static constexpr uint32_t kDocumentType = FOUR_CHAR_CODE("UDAT");
    // Status of a document of another type.
    static constexpr int32_t kWrongDocumentType = 113;

    // A new empty list of its own.
    Kelvo_UDataList();
    // The owner's own user data, borrowed; a null owner gives -2010 / -2009 / -2008, an owner
    // without user data the platform's movies error.
    explicit Kelvo_UDataList(Movie movie);
    explicit Kelvo_UDataList(Track track);
    explicit Kelvo_UDataList(Media media);
    // A private copy of `ud`.
    explicit Kelvo_UDataList(UserData ud);
    // The settings of a sequence grabber ('grab') or the metadata of a graphics importer
    // ('grip') or exporter ('grex'); any other type gives an empty list. A null component: -50.
    Kelvo_UDataList(ComponentInstance c, uint32_t type);
    // A private copy of the other's user data; a null `other` gives an empty, invalid list.
    explicit Kelvo_UDataList(Kelvo_UDataList* other);
    Kelvo_UDataList(const Kelvo_UDataList& other);
    // The list stored in the 'UDAT' document at `path`; a document of another type: 113.
    explicit Kelvo_UDataList(const char* path);
    Kelvo_UDataList& operator=(const Kelvo_UDataList&) = delete;

    // Virtual operations in slot order: those of Kelvo_QTObj, then reset.
    ~Kelvo_UDataList() override;
    const char* qtObjName() const override { return "Kelvo_UDataList"; }
    bool qtObjIsValid() override { return _userData != nullptr; }
    bool qtObjIsValid() const override { return _userData != nullptr; }
    void* qtObjReference() override { return _userData; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // Disposes of the user data when the list owns it, and forgets it.
    virtual void reset();

    // Replaces the list by a private copy of `ud`.
    void Copy(UserData ud);

    UserData UDList() const { return _userData; }
    operator UserData() const { return _userData; }
    UserData* UDListPtr() { return &_userData; }

    // The flattened user data in a new handle that the caller disposes of; null on failure.
    Handle handle();

    // The number of items of every type (at most 32767), and of one type.
    int16_t Count();
    int16_t Count(uint32_t type);
    // The number of distinct types, and the type at a 0-based position (0 past the last; a
    // negative position: -50).
    int16_t ListTypesCount();
    uint32_t ListType(int16_t index);

    // A new handle (the caller disposes of it) holding the item's bytes; null on error.
    Handle Item(uint32_t type, int32_t index);
    // Sets the bytes of item `index`; an index past the last item of the type writes a new last
    // item.
    void Item(const void* data, uint32_t size, uint32_t type, int32_t index);
    // The item's bytes into a buffer of exactly its size.
    bool ItemToPtr(void* data, uint32_t size, uint32_t type, int32_t index);
    // Appends an item holding the bytes; the caller keeps `h`.
    void addItem(uint32_t type, const void* data, uint32_t size);
    void addItem(uint32_t type, Handle h);

    // A new handle (the caller disposes of it) holding the item's text in the language; null on
    // error.
    Handle ItemText(uint32_t type, int16_t language, int32_t index);
    // Sets the item's text in the language (the C text without its terminator); an index past
    // the last item of the type writes a new last item.
    void ItemText(const char* text, uint32_t type, int16_t language, int32_t index);
    // Appends an item holding the text in the language.
    void addItemText(uint32_t type, const char* text, int16_t language);

    // Removes every item of the type, or of every type.
    void Clear(uint32_t type);
    void Clear();
    void ItemRemove(uint32_t type, int32_t index);

    // Writes the list as a 'UDAT' document.
    void store(const char* path);

  private:
    // Borrows the owner's user data; a null owner gives `nullOwner`, an owner without user data
    // the platform's movies error.
    template <class Owner> void borrow(Owner owner, int32_t nullOwner, UserData (*userDataOf)(Owner));
    // A new handle that `fill` filled; null, with the status set, when allocating or filling
    // fails.
    template <class Fill> Handle filledHandle(Fill fill);
    // Takes `ud` as the list's own user data when `err` is noErr; disposes of it otherwise.
    void adopt(UserData ud, int32_t err);
    // Moves a write at `index` to where the platform takes it: the first item of a type without
    // items, or a new last item (appended here) past the end; returns the append's result.
    OSErr placeWrite(uint32_t type, int32_t& index);
    // Appends an empty item of the type and returns the result.
    OSErr appendEmptyItem(uint32_t type);

    UserData _userData = nullptr;
    uint8_t _owned = 0;
};
