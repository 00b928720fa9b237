#include "app/startup.h"

#include "app/confirmwindow.h"
#include "app/formkit.h"
#include "app/updatewindow.h"

namespace {

// Shows the confirmation window modally; true when the operator confirmed.
bool AskConfirmation()
{
    TConfirmWindow confirmation;
    confirmation.exec();
    return confirmation.Confirmed();
}

} // namespace

int ZemboUpdateMain(TApplication& application)
{
    application.SetTitle(QStringLiteral("ZemboUpdate"));
    TUpdateWindow updateWindow;
    const bool confirmed = AskConfirmation();
    if (!confirmed)
        application.Terminate();
    updateWindow.SetConfirmed(confirmed);
    return application.Run(&updateWindow);
}
