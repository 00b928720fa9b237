// The update window's pictures and its gauge, drawn here so the program
// ships no image files: the tree's state balls, the heading icon, the
// background, the update button's glyph.
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QWidget>

// The state balls, 16 x 16: 0 and 1 green, 2 blue, 3 orange, 4 red.
QList<QPixmap> StateBalls();
// The heading icon: 32 x 32, a round arrow around a downward arrow.
QPixmap UpdateIcon();
// The background of the lower panel.
QPixmap UpdateBackground(int width, int height);
// The update button's picture: a green arrow pointing down onto a tray.
QIcon DownloadGlyph();

// A percentage gauge: a yellow bar from the left on white, the percentage
// written in the middle.
class TGauge : public QWidget {
public:
    explicit TGauge(QWidget* owner = nullptr);
    int Progress() const { return FProgress; }
    void SetProgress(int value); // kept within 0..MaxValue
    int MaxValue() const { return FMaxValue; }
    void SetMaxValue(int value);
    QColor ForeColor = QColor(255, 255, 0);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int FProgress = 0;
    int FMaxValue = 100;
};
