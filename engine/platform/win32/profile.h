// INI-format profile files, as Win32's profile functions read and write them, at a
// cost linear in the file's size.
//
// A file is lines of "[section]" headers, "key=value" entries and anything else
// (blank lines, ';' comments), which are kept as they are. Section and key names
// match without regard to ASCII case; blanks (spaces, tabs) around names and
// values are not part of them; a value enclosed in a pair of matching quotes
// reads without them; the first of two equal keys in a section wins, and so does
// the first of two equal sections. Entries before the first header belong to no
// section and are kept but never found. LF and CRLF line ends are both read;
// every line keeps its own end, new lines take the file's first one.
//
// Many calls on one file (a model writer's thousands of rows) go through one
// ProfileFile: parsed once, looked up through an index, written once:
//
//   qrv::win32::ProfileFile model;
//   model.Load(path);                      // a missing file is an empty profile
//   model.Set("Photo", "Width", "640");
//   ...
//   if (!model.Save()) { /* the old file is unchanged */ }
//
// The three Win32-named functions below each load, look up or change, and save
// one file for one call.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "wintypes.h"

namespace qrv::win32 {

class ProfileFile {
public:
    ProfileFile() = default;

    // Reads and parses path. A missing file gives an empty profile and true; a file
    // that exists but cannot be read gives false and an empty profile that Save
    // refuses to write (it would replace a file it never saw).
    bool Load(const std::string &path);
    const std::string &Path() const { return path_; }

    // The value of key in section, blanks and one pair of enclosing quotes taken
    // off; nullopt when the section or key is missing. Valid until the next change.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

    // GetPrivateProfileIntA's reading: defaultValue when the key is missing or its
    // value empty; else an optional sign, then decimal digits, or hexadecimal after
    // "0x", octal after "0o", binary after "0b", up to the first other character
    // (no digits read as 0). Magnitudes beyond 32 bits stop at INT32_MAX (or
    // INT32_MIN negated); negative values come back in two's complement.
    UINT GetInt(std::string_view section, std::string_view key, INT defaultValue) const;

    // GetPrivateProfileStringA's copy into buffer (see there).
    DWORD GetString(const char *section, const char *key, const char *defaultValue, char *buffer,
                    DWORD size) const;

    // Sets key to value: an existing key's line becomes "key=value" in place (the
    // key as first written), a missing key is added after its section's last entry,
    // a missing section is added at the end of the file. false, with nothing
    // changed, when the names or value cannot be stored as one line: a line break
    // anywhere, an empty key, '=' in the key, ']' in the section name.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Takes out the key's entry (true) or finds nothing to take out (false).
    bool Remove(std::string_view section, std::string_view key);
    // Takes out the whole section, header, entries and all lines up to the next header.
    bool RemoveSection(std::string_view section);

    // Section names (as written) in file order; key names of one section.
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // True when the profile differs from the file it was loaded from.
    bool Modified() const { return modified_; }

    // Writes the profile to its path if it was modified: into a new file in the same
    // folder, flushed to disk, then renamed over the old file (whose permissions
    // it takes), so that a failure at any point leaves the old file as it was and
    // no temporary file behind. false on failure, or when Load failed.
    bool Save();

private:
    enum class Eol : unsigned char { None, Lf, CrLf };

    struct Line {
        std::string text; // without its line end
        Eol eol = Eol::Lf;
        bool isEntry = false;
        size_t keyBegin = 0, keyEnd = 0, valueBegin = 0, valueEnd = 0; // entries only
    };

    struct Section {
        std::string name;    // trimmed, as written
        bool hasHeader = true; // false only for the lines before the first header
        std::vector<Line> lines; // the header line first, when there is one
        std::unordered_map<std::string, size_t> keys; // lower-cased key -> line, first wins
        size_t lastEntry = 0; // the last entry line, or 0 (the header) when none
    };

    void Parse(std::string_view text);
    bool WriteTo(int fd) const;
    static Line MakeLine(std::string text, Eol eol);
    void IndexSection(size_t index);
    void IndexSections();
    Section *FindSection(std::string_view name);
    const Section *FindSection(std::string_view name) const;

    std::string path_;
    bool readable_ = false;
    bool modified_ = false;
    bool bom_ = false;
    Eol newline_ = Eol::Lf;
    std::vector<Section> sections_; // sections_[0] holds the lines before any header
    std::unordered_map<std::string, size_t> sectionIndex_; // lower-cased name -> section
};

} // namespace qrv::win32

// The integer value of key in section of the file at path, read as
// ProfileFile::GetInt does; defaultValue when the file, section or key is missing.
UINT GetPrivateProfileIntA(const char *section, const char *key, INT defaultValue,
                           const char *path);

// Copies the value of key in section into buffer, cut to size - 1 characters and
// terminated, and returns the characters copied (size - 1 when cut). A missing
// file, section or key copies defaultValue (null: ""), without its trailing blanks.
// A null key lists the section's keys, a null section the file's sections: each
// name terminated, a second terminator after the last; when that does not fit, the
// last name is cut, two terminators end the buffer and size - 2 is returned.
DWORD GetPrivateProfileStringA(const char *section, const char *key, const char *defaultValue,
                               char *buffer, DWORD size, const char *path);

// Sets key to value in section of the file at path, creating the file and the
// section when missing; a null value removes the key, a null key the section.
// TRUE when the file holds the change (or had nothing to remove), FALSE when it
// could not be read or written, or the names or value cannot be stored; a failed
// write leaves the old file as it was.
BOOL WritePrivateProfileStringA(const char *section, const char *key, const char *value,
                                const char *path);
