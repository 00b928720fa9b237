#include "app/formkit.h"

#include "app/fonts.h"
#include "platform/scoped.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void TApplication::SetTitle(const QString& title)
{
    FTitle = title;
    setApplicationName(title);
}

void TApplication::Terminate(int exitCode)
{
    FTerminated = true;
    FExitCode = exitCode;
    if (FRunning)
        exit(exitCode);
}

int TApplication::Run(QWidget* mainWindow)
{
    mainWindow->show();
    if (!FTerminated) {
        const TScopedFlag running(FRunning);
        exec();
    }
    const int code = FExitCode;
    FTerminated = false;
    FExitCode = 0;
    return code;
}

void TApplication::HandleException(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, FTitle, message, QMessageBox::Ok, activeWindow());
    box.exec();
}

TApplication* Application()
{
    return static_cast<TApplication*>(QCoreApplication::instance());
}

TFormDialog::TFormDialog(QWidget* owner) : QDialog(owner) {}

void TFormDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFormDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

QFont PixelFont(const QString& family, int pixelSize, bool bold, bool italic)
{
    QFont f;
    if (!family.isEmpty())
        f.setFamilies(ScreenFamilies(family));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

void PlaceFixed(QWidget* window, int clientWidth, int clientHeight)
{
    window->setFixedSize(clientWidth, clientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.x() + (area.width() - clientWidth) / 2, area.y() + (area.height() - clientHeight) / 2);
    }
}

QLabel* NewLabel(QWidget* owner, const char* name, const QString& caption, QPoint at, const QFont& font,
                 const QColor& colour, TLabelFill fill)
{
    auto* label = new QLabel(caption, owner);
    label->setObjectName(QLatin1String(name));
    label->setFont(font);
    SetLabelColour(label, colour);
    label->setAutoFillBackground(fill == lfOpaque);
    label->move(at);
    label->adjustSize();
    return label;
}

QWidget* NewPanel(QWidget* owner, const char* name, const QRect& geometry, const QColor& fill)
{
    auto* panel = new QWidget(owner);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(geometry);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, fill);
    panel->setPalette(palette);
    return panel;
}

void SetLabelColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

namespace {

QIcon Draw(void (*paint)(QPainter&))
{
    QPixmap picture(24, 24);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return QIcon(picture);
}

} // namespace

QIcon ContinueGlyph()
{
    return Draw([](QPainter& p) {
        QPainterPath arrow;
        arrow.moveTo(3, 9);
        arrow.lineTo(12, 9);
        arrow.lineTo(12, 4);
        arrow.lineTo(21, 12);
        arrow.lineTo(12, 20);
        arrow.lineTo(12, 15);
        arrow.lineTo(3, 15);
        arrow.closeSubpath();
        p.setPen(QPen(QColor(0, 90, 0), 1.2));
        p.setBrush(QColor(40, 170, 40));
        p.drawPath(arrow);
    });
}

QIcon ExitGlyph()
{
    return Draw([](QPainter& p) {
        p.setPen(QPen(QColor(90, 60, 30), 2));
        p.setBrush(QColor(230, 210, 170));
        p.drawRect(QRectF(4, 2, 14, 20));
        p.setPen(QPen(QColor(200, 20, 20), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(14, 16));
        p.drawLine(QPointF(14, 8), QPointF(8, 16));
    });
}

QIcon ConfirmGlyph()
{
    return Draw([](QPainter& p) {
        p.setPen(QPen(QColor(30, 150, 30), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(4, 13), QPointF(10, 19), QPointF(20, 5)}));
    });
}
