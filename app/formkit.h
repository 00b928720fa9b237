// What the program's windows build on: the application object with its
// default error box, fonts in pixels, placement, and the button pictures.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLabel>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    QString Title() const { return FTitle; }
    void SetTitle(const QString& title);
    // Asks the message loop to end, Run to return exitCode; asked before
    // Run, Run returns as soon as the main window has been shown.
    void Terminate(int exitCode = 0);
    // Shows the main window and runs the message loop until it closes or
    // Terminate is asked; returns the exit code Terminate was given, else 0.
    int Run(QWidget* mainWindow);
    // The default error box: the error's text in a modal message box.
    void HandleException(const QString& message);

private:
    QString FTitle;
    bool FTerminated = false;
    bool FRunning = false;
    int FExitCode = 0;
};

TApplication* Application();

// A window shown modally: runs FormShow when shown, and ignores the Escape
// key: an operator closes it with its own buttons.
class TFormDialog : public QDialog {
public:
    explicit TFormDialog(QWidget* owner = nullptr);

protected:
    virtual void FormShow() {}
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

QFont PixelFont(const QString& family, int pixelSize, bool bold = false, bool italic = false);
// Fixed client size, centred on the desktop.
void PlaceFixed(QWidget* window, int clientWidth, int clientHeight);

// A transparent label shows the window behind it; an opaque one is filled
// with the window colour.
enum TLabelFill { lfTransparent, lfOpaque };
// A label at a point, sized to its text, in a font and colour.
QLabel* NewLabel(QWidget* owner, const char* name, const QString& caption, QPoint at, const QFont& font,
                 const QColor& colour, TLabelFill fill);
void SetLabelColour(QLabel* label, const QColor& colour);
// A plain area filled with one colour (a heading band, a backdrop).
QWidget* NewPanel(QWidget* owner, const char* name, const QRect& geometry, const QColor& fill);

// Button pictures, drawn here so the program ships no image files.
QIcon ContinueGlyph(); // a green arrow pointing right
QIcon ExitGlyph();     // a red cross in a door frame
QIcon ConfirmGlyph();  // a green tick
