// The form's client area: the window the engine draws into.
#pragma once

#include <QImage>
#include <QWidget>

#include "qrv.h"

namespace tovelle {

// Hands the engine a QrvWindow whose size is this widget's in device pixels, keeps
// a copy of every frame the engine presents and paints the last one, scaled to the
// widget when the sizes differ. Until a frame arrives it shows the background.
// Painting never calls into the engine: frames are made elsewhere (on keys,
// ticks, opens, showing and resizing) and only shown here.
class ReliefPane : public QWidget {
    Q_OBJECT

public:
    explicit ReliefPane(QWidget *parent = nullptr);

    HWND qrvWindow() { return &window_; }
    const QImage &frame() const { return frame_; }
    int framesPresented() const { return framesPresented_; }

Q_SIGNALS:
    void resized();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static void ClientSize(void *context, int32_t *width, int32_t *height);
    static void Present(void *context, const uint32_t *pixels, int32_t width, int32_t height,
                        int32_t strideBytes);

    QrvWindow window_;
    QImage frame_;
    int framesPresented_ = 0;
};

} // namespace tovelle
