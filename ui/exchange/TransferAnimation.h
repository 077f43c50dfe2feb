#pragma once
// The picture of the configuration upload window: a computer, a terminal and
// the pages flying from one to the other while the upload runs. Stopped, it
// shows its first frame.

#include <QTimer>
#include <QWidget>

class CTransferAnimation : public QWidget {
    Q_OBJECT
public:
    explicit CTransferAnimation(QWidget* parent = nullptr);

    void Play();
    void Stop();  // back to the first frame
    bool IsPlaying() const { return m_timer.isActive(); }
    int Frame() const { return m_frame; }

    QSize sizeHint() const override { return {200, 72}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kFrames = 12;
    QTimer m_timer;
    int m_frame = 0;
};
