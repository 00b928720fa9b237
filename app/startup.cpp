#include "app/startup.h"

#include "app/formkit.h"
#include "app/confirmwindow.h"
#include "app/untfrmzemboupdate.h"

int ZemboUpdateMain(TApplication& application)
{
    application.SetTitle(QStringLiteral("ZemboUpdate"));
    frmzemboupdate = new Tfrmzemboupdate();
    Form1 = new TForm1();
    Form1->exec();
    if (!Form1 || Form1->Tag != 1)
        application.Terminate();
    const int code = application.Run(frmzemboupdate);
    // the windows the application owned
    delete frmzemboupdate;
    delete Form1;
    return code;
}
