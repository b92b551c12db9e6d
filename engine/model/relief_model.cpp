// q3d model files on the ReliefView road: a depth grid at the depth image's own
// resolution, depth values 0 (nearest) to 255 (farthest), read into the view's
// strips and written from a depth image.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "model/q3d_text.h"
#include "platform/win32/profile.h"
#include "view/depth_image.h"
#include "view/relief_view.h"
#include "view/strip_builder.h"

namespace qrv {

using model::DataKey;
using win32::ProfileFile;

bool ReliefView::SetModelPath(const char *path) {
    modelPath[0] = '\0';
    const std::string target = model::ReplaceLastThree(path, "q3d");
    if (target.empty() || target.size() >= sizeof modelPath) return false;
    std::memcpy(modelPath, target.c_str(), target.size() + 1);
    return true;
}

void ReliefView::ReadModel(const char *path) {
    const bool named = SetModelPath(path);
    ReleaseResources();
    ResetState(false);

    ProfileFile file;
    if (named) file.Load(modelPath);
    const int64_t width = static_cast<int32_t>(file.GetInt(model::kPhoto, model::kWidth, 0));
    const int64_t height = static_cast<int32_t>(file.GetInt(model::kPhoto, model::kHeight, 0));
    const int64_t verts = 2 * width;
    const int64_t strips = height - 1;
    // As in BuildStrips, the counts stay 0 without a strip buffer; a buffer too
    // long for a 32-bit length is not made.
    uint64_t length = 0;
    if (width > 0 && strips > 0) {
        const uint64_t stripBytes = static_cast<uint64_t>(verts) * sizeof(StripVertex);
        if (stripBytes <= UINT32_MAX) length = stripBytes * static_cast<uint64_t>(strips);
    }
    IDirect3DVertexBuffer9 *buffer = nullptr;
    void *data = nullptr;
    if (device && length > 0 && length <= UINT32_MAX &&
        SUCCEEDED(device->CreateVertexBuffer(static_cast<UINT>(length), 0, kStripFvf,
                                             D3DPOOL_MANAGED, &buffer, nullptr)) &&
        buffer) {
        if (FAILED(buffer->Lock(0, 0, &data, 0)) || !data) {
            buffer->Release();
            buffer = nullptr;
        }
    }
    if (buffer) {
        const int64_t halfW = width / 2, halfH = height / 2;
        const double scale = static_cast<double>(std::max(halfW, halfH));
        std::vector<float> xs(static_cast<size_t>(width)), us(static_cast<size_t>(width));
        for (int64_t c = 0; c < width; ++c) {
            xs[static_cast<size_t>(c)] = static_cast<float>(static_cast<double>(c - halfW) / scale);
            us[static_cast<size_t>(c)] =
                static_cast<float>(static_cast<double>(c) / static_cast<double>(width));
        }
        auto *strip = static_cast<StripVertex *>(data);
        const auto stride = static_cast<size_t>(verts);
        // Picture row s is the upper row of strip s and the lower row of strip s - 1.
        for (int64_t s = 0; s < height; ++s) {
            model::RowCursor row(file.Find(model::kPhoto, DataKey(static_cast<uint64_t>(s)).view())
                                     .value_or(std::string_view{}));
            const auto y = static_cast<float>(static_cast<double>(halfH - s) / scale);
            const auto v = static_cast<float>(static_cast<double>(s) / static_cast<double>(height));
            StripVertex *upper = s < strips ? strip + static_cast<size_t>(s) * stride : nullptr;
            StripVertex *lower = s > 0 ? strip + static_cast<size_t>(s - 1) * stride + 1 : nullptr;
            for (int64_t c = 0; c < width; ++c) {
                const int32_t d = row.NextValue();
                const StripVertex vertex{xs[static_cast<size_t>(c)],
                                         y,
                                         static_cast<float>((d - 128.0) / 128.0),
                                         0xFFFFFFFFu,
                                         us[static_cast<size_t>(c)],
                                         v};
                if (upper) upper[2 * c] = vertex;
                if (lower) lower[2 * c] = vertex;
            }
        }
        buffer->Unlock();
        stripBuffer = buffer;
        vertsPerStrip = static_cast<int32_t>(verts);
        stripCount = static_cast<int32_t>(strips);
    }

    // The photo beside the model, whether or not the model could be read.
    const std::string photo = model::ReplaceLastThree(path, "bmp");
    if (!photo.empty()) LoadPhotoTexture(photo.c_str());
}

void ReliefView::WriteModel(HGLOBAL depthDib, const char *path) {
    if (!SetModelPath(path)) return;
    const DepthImage image(depthDib);
    if (!image.valid()) return;
    ProfileFile file;
    if (!file.Load(modelPath)) return; // a file that cannot be read is not replaced

    const int32_t width = image.width(), height = image.height();
    file.Set(model::kPhoto, model::kWidth, std::to_string(width));
    file.Set(model::kPhoto, model::kHeight, std::to_string(height));

    // The text of every grey level's depth value at this view's percent.
    std::string textOfGrey[256];
    for (int grey = 0; grey < 256; ++grey)
        model::AppendValue(textOfGrey[grey], DepthOfGrey(grey, popupPercent));
    std::vector<uint8_t> grey(static_cast<size_t>(width));
    std::string row;
    for (int32_t r = height - 1; r >= 0; --r) {
        image.GreyRow(r, grey.data());
        row.clear();
        for (const uint8_t g : grey) row += textOfGrey[g];
        file.Set(model::kPhoto, DataKey(static_cast<uint64_t>(height - 1 - r)).view(), row);
    }
    file.Save(); // the writer reports nothing
}

} // namespace qrv
