// The program's entry sequence: update window created first, confirmation
// shown modally, then the message loop. Returns the process exit code.
#pragma once

class TApplication;

int ZemboUpdateMain(TApplication& application);
