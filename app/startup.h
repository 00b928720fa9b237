// The program's entry sequence, which owns its windows: the update window
// created first, the confirmation shown modally, the update window told the
// operator's answer and run by the message loop. Returns the process exit
// code.
#pragma once

class TApplication;

int ZemboUpdateMain(TApplication& application);
