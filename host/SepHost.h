// The test host: loads module libraries (.sep), describes them, and runs a
// patch of instances exactly as the host application would.
//
// The host knows modules only through the boundary header; it never includes
// a module's own headers.
#pragma once

#include "CallbackAnswers.h"
#include "Description.h"
#include "Engine.h"
#include "Library.h"
#include "Limits.h"
#include "Monitor.h"
#include "OutputSink.h"
