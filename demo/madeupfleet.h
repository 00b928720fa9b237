// A fleet made up for the demo's report page and the fleet benchmark: the
// runs of many installations over the nights before a moment, most of them
// successful, a few installations failing, behind, silent or stuck.
#pragma once

#include "db/runevents.h"

#include <QDateTime>
#include <QList>

// About runs / installations nights of runs each, the last night just
// before now; the same arguments give the same fleet.
QList<TRunEvent> MadeUpFleet(int installations, int runs, const QDateTime& now);
