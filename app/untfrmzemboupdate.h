// The update window, the program's main window. Its show handler checks the
// confirmation first; the environment checks and the run follow it.
#pragma once

#include "platform/datetime.h"

#include <QListWidget>
#include <QString>
#include <QTimer>
#include <QWidget>

class Tfrmzemboupdate : public QWidget {
public:
    explicit Tfrmzemboupdate(QWidget* owner = nullptr);
    ~Tfrmzemboupdate() override;

    int Tag = 0;
    TDateTime STime;
    quint32 BytesToTransfer = 0;
    QString PROGR;

    // The aliases to process; the database upgrade runs the ticked ones.
    QListWidget* CheckListBox1;
    QTimer* Timer2;

    void FormShow();
    void Timer2Timer();

protected:
    void showEvent(QShowEvent* event) override;
};

extern Tfrmzemboupdate* frmzemboupdate;
