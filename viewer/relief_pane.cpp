#include "relief_pane.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>
#include <cstring>

namespace tovelle {

ReliefPane::ReliefPane(QWidget *parent) : QWidget(parent) {
    window_.context = this;
    window_.clientSize = &ReliefPane::ClientSize;
    window_.present = &ReliefPane::Present;
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void ReliefPane::ClientSize(void *context, int32_t *width, int32_t *height) {
    const auto *pane = static_cast<const ReliefPane *>(context);
    const qreal ratio = pane->devicePixelRatioF();
    if (width) *width = static_cast<int32_t>(std::lround(pane->width() * ratio));
    if (height) *height = static_cast<int32_t>(std::lround(pane->height() * ratio));
}

void ReliefPane::Present(void *context, const uint32_t *pixels, int32_t width, int32_t height,
                         int32_t strideBytes) {
    auto *pane = static_cast<ReliefPane *>(context);
    if (!pixels || width <= 0 || height <= 0 || strideBytes < width * 4) return;
    // The engine's buffer is only valid during this call: keep a copy.
    QImage frame(width, height, QImage::Format_RGB32);
    if (frame.isNull()) return;
    const auto *source = reinterpret_cast<const uchar *>(pixels);
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame.scanLine(y), source + static_cast<ptrdiff_t>(y) * strideBytes,
                    static_cast<size_t>(width) * 4);
    }
    pane->frame_ = std::move(frame);
    ++pane->framesPresented_;
    pane->update();
}

void ReliefPane::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    if (frame_.isNull()) {
        painter.fillRect(event->rect(), palette().window());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), frame_);
}

void ReliefPane::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Q_EMIT resized();
}

} // namespace tovelle
