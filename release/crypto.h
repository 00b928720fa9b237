// libsodium, private to release/: the public header stays free of it.
#pragma once

#include <sodium.h>

// libsodium wants one initialisation before use; safe to call again and from any thread.
void InitSodium();
