// Long member names: names that do not fit a directory entry (more than 12
// characters, or a folder part) are stored under a generated short name, and
// the long-name table member TXBIBLI.LFN maps each long name to it. The
// launcher reads the table and looks long names up through it; these are
// the rules of its text and of the names on both sides of it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace txlib {

// The member that holds the table.
constexpr const char kTableMember[] = "TXBIBLI.LFN";

// A long name and the member path that carries it ("|" + name) must fit the
// launcher's working paths of 260 characters.
constexpr size_t kLongNameMax = 259;

// The launcher reads the table with one 16-bit count.
constexpr size_t kTableMax = 65535;

struct TableLine {
    std::string long_name; // as written: the launcher finds it only in upper case
    std::string stored;    // the member name it stands for
};

// The lines of a table text, in order, as the launcher's lookup can find
// them: each begun by a line feed, the long name up to the first tab, the
// stored name from there up to the next line feed (a carriage return before
// it stays part of the name). The text ends at its first NUL; lines without
// a tab, and text before the first line feed, are no lines.
std::vector<TableLine> ParseTable(const std::string& text);

// The text of a table: "\n" LONG "\t" STORED for each line.
std::string TableText(const std::vector<TableLine>& lines);

// The letters a to z upper-cased: the case folding of every lookup.
std::string FoldCase(std::string name);

// Whether a name (Windows-1252, parts joined by '\') is stored in a
// directory entry as it is: a valid member name without a folder part and
// without a space at either end.
bool FitsEntry(const std::string& name);

// Whether a name can be a long name: at most kLongNameMax characters, no
// space at either end (the lookup trims them), parts that are not empty,
// "." or "..", and no character that a member name cannot hold. Sets the
// reason when not.
bool ValidLongName(const std::string& name, std::string* reason);

// A short name for a long one, in the form STEM~N.EXT: the letters, digits,
// '_' and '-' of the last part's stem and extension, upper-cased, the stem
// cut so that the whole fits 8.3, and the lowest N for which `taken` (given
// the folded candidate) answers false.
std::string ShortName(const std::string& long_name,
                      const std::function<bool(const std::string&)>& taken);

// Whether `name` (Windows-1252) can be stored as a member name: 1 to 12
// characters, none of them a control character or one of \ / : * ? " < > |,
// not "." or "..", not beginning with the deleted-entry mark 0xE5. Sets the
// reason when not.
bool ValidMemberName(const std::string& name, std::string* reason);

} // namespace txlib
