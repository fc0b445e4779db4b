// A library as the launcher sees it: the core's services for the length of
// one command, and the members its lookup can open, by the names it opens
// them by (through the long-name table first, then in the directory,
// ignoring ASCII case; sorted directories searched up to their capacity).
#pragma once

#include "formats/longnames.h"

#include "library/libtable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace txlib {

// The core's services for the length of one command, with its error
// reports off: the tool says what failed in its own words. One library is
// open at a time.
class CoreSession {
  public:
    CoreSession();
    ~CoreSession();
    CoreSession(const CoreSession&) = delete;
    CoreSession& operator=(const CoreSession&) = delete;

    // Opens the container at `base` in `path` (checked first, so that damage
    // is told precisely) and answers its record. A read-only open asks the
    // system for reading only, so that nothing the command does can write to
    // the file.
    tx::LibraryRecord* Open(const std::string& path, uint32_t base, const std::string& shown,
                            bool read_only = false);

    // Makes a new container at `path` with a directory of `capacity` entries.
    tx::LibraryRecord* Create(const std::string& path, int16_t kind, int capacity,
                              const std::string& shown);

    // Closes the library, writing its directory back; a failure is told.
    void Close(const std::string& shown);

    int16_t Selector() const { return selector_; }
    // The file of the library open, as given to Open or Create.
    const std::string& Path() const { return path_; }
    tx::LibraryRecord* Record() const;

  private:
    int16_t selector_ = -1;
    std::string path_; // the file of the library open, as given
    uint32_t previous_write_chunk_ = 0;
};

// "WHAT: CAUSE" for an operation of the core that failed, with the cause
// that its last disk error gives, or, where that is 0, "no space left on the
// device" when the volume of `path` has less than the `need` bytes free
// that the operation wanted; else WHAT alone.
std::string CoreFailure(const std::string& what, const std::string& path = "", uint64_t need = 0);

// The core keeps paths in buffers of 260 characters: a longer path is
// refused with Failure naming it.
void CheckCorePath(const std::string& path);

// The name of a directory entry, up to its NUL.
std::string EntryName(const tx::DirEntry& entry);

struct MemberView {
    enum State { kMember, kHidden, kDeleted };
    int index = 0;      // directory entry
    std::string stored; // the entry's name
    std::string name;   // what the launcher opens it by: its long name, else `stored`
    bool long_name = false;
    State state = kMember; // kHidden: valid, but no name of it reaches it
};

class LibraryView {
  public:
    // Reads the directory of the session's open library and, for a library
    // that the launcher searches by name (kind 0), its long-name table.
    explicit LibraryView(CoreSession& core);

    // The entry the launcher's lookup opens for `name` (Windows-1252), or -1.
    int Find(const std::string& name) const;

    // Every entry within the lookup's reach that has a name, in directory
    // order: valid members, hidden ones and deleted ones.
    const std::vector<MemberView>& Entries() const { return entries_; }
    const MemberView* Entry(int index) const;

    // The table lines that lead to a member, in table order, each long name
    // once, with the stored name of the member it leads to.
    const std::vector<TableLine>& Lines() const { return lines_; }

    bool Searched() const { return searched_; }  // kind 0: long names apply
    bool HasTable() const { return has_table_; } // a table member exists
    const std::string& TableText() const { return table_text_; }
    // Why an existing table is not in use (too large, unreadable); empty when
    // it is, or when there is none.
    const std::string& TableProblem() const { return table_problem_; }

    // The highest entry index + 1 that the lookup looks at.
    int Reach() const { return reach_; }

  private:
    CoreSession& core_;
    std::vector<MemberView> entries_;
    std::vector<TableLine> lines_;
    bool searched_ = false;
    bool has_table_ = false;
    std::string table_text_;
    std::string table_problem_;
    int reach_ = 0;
};

} // namespace txlib
