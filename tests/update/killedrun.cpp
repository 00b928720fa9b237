// An update run of the working folder that kills its own process (SIGKILL)
// the moment the last file the plan fetches is in place, before the
// replacement begins. Started by the session tests of a killed replacement.
//   zembo_killedrun
#include "update/session.h"

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

class TDiesOnceEverythingIsFetched : public TSessionObserver {
public:
    void Planned(const TUpdatePlan& plan) override
    {
        FLeft = int(std::count_if(plan.Items.begin(), plan.Items.end(),
                                  [](const TPlanItem& i) { return i.Decision == fdBaixar; }));
    }
    void StateChanged(int, TNodeState state) override
    {
        if (state == nsGreen && --FLeft == 0)
            std::raise(SIGKILL);
    }

private:
    int FLeft = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TDiesOnceEverythingIsFetched dies;
    TUpdateSession session(dies);
    if (const std::optional<TRefusal> refusal = session.Inicia()) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(refusal->Message));
        return 1;
    }
    session.Atualiza();
    std::fprintf(stderr, "the run fetched nothing, so it was not killed\n");
    return 1;
}
