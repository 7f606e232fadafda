#pragma once

#include "platform/Result.h"

// Per-thread initialisation of the object layer. Nothing needs setting up on this
// platform; the pair is kept so every thread states where its use of the layer begins
// and ends.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
// Whether the calling thread is between CoInitialize and CoUninitialize.
bool comInitialized();
