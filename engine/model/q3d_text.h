// The text of q3d model files, shared by both engines' readers and writers.
//
// A model file is an INI-format profile file. Grid rows are stored as one entry
// per row whose value is a run of numbers, each followed by a comma ("12,0,255,");
// numbered entries are keyed "Data0000", "Data0001", ... "Data9999", "Data10000".
// Values are read the way the C library's atoi and sscanf read them (leading
// blanks, an optional sign, decimal digits), but independently of the locale and
// saturating instead of overflowing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qrv::model {

// Section and key names of the format.
inline constexpr char kPhoto[] = "Photo";
inline constexpr char kVertexColor[] = "VertexColor";
inline constexpr char kVertex[] = "Vertex";
inline constexpr char kIndex[] = "Index";
inline constexpr char kWidth[] = "Width";
inline constexpr char kHeight[] = "Height";
inline constexpr char kCount[] = "Count";

// The key of numbered entry n: "Data" and n with at least four digits.
class DataKey {
public:
    explicit DataKey(uint64_t n);
    std::string_view view() const { return {text_, size_}; }
    const char *c_str() const { return text_; }

private:
    char text_[32];
    size_t size_;
};

// path with its last three characters replaced by ending ("q3d", "bmp"); empty
// when path is null or shorter than three characters.
std::string ReplaceLastThree(const char *path, std::string_view ending);

// atoi's reading of text: blanks, an optional sign and decimal digits, up to the
// first other character; 0 when there are no digits. Saturates at the int32 range.
int32_t LeadingInt(std::string_view text);

// sscanf's reading of text with a format of count "%d" separated by commas:
// values are read in turn until one cannot be read or the comma after it is
// missing. Returns how many were read; the others are set to 0.
int ScanInts(std::string_view text, int32_t *values, int count);

// The same with "%f": decimal or hexadecimal floating-point numbers, infinities
// and NaNs, read in the C locale whatever the process's locale is.
int ScanFloats(std::string_view text, float *values, int count);

// The points of one grid row, read from the front. Each point ends at the next
// comma; a point with no comma left after the cursor reads as missing and leaves
// the cursor where it is.
class RowCursor {
public:
    explicit RowCursor(std::string_view row) : rest_(row) {}

    // The next value ("%d,"), or 0 when no comma is left.
    int32_t NextValue();

    // The next colour ("%d,%d,%d,"): the text up to the third comma ahead is read
    // as three values; with fewer than three commas left all three are 0.
    void NextColour(int32_t rgb[3]);

private:
    std::string_view rest_;
};

// Appends value and a comma ("%d,").
void AppendValue(std::string &out, int64_t value);

// "%d," of every value 0..255 ready to append: one, two or three digits and a
// comma.
class SmallValueText {
public:
    SmallValueText();
    void Append(std::string &out, unsigned value) const {
        out.append(text_[value], length_[value]);
    }

private:
    char text_[256][4];
    unsigned char length_[256];
};

} // namespace qrv::model
