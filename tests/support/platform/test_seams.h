// What tests use to drive and inspect the layer, in one header:
//
// - A ScriptedResponder answers message boxes and the Save-As dialog instead of the real Qt
//   dialogs (scripted_responder.h).
// - PumpUntil runs the user-interface queue and Qt's events until a condition holds (pump.h).
// - The user's input goes through the real view (Qt widgets and their signals), so the same
//   rules apply as for a person: the model changes first, a disabled or hidden control (by the
//   model) takes nothing (view_driver.h).
// - Dialogs can be run from a template built in code (dialogs.h); EnsureUi starts the user
//   interface without an application object (ui.h).
// - Stand-ins for the layer's sources: failing proxy queries and thread starts, a set calendar,
//   a count of profile parses (stand_ins.h).
//
// The seams themselves (ProgramStarter, IdentitySource, TickSource, FileReader...) are the
// layer's own, in the headers of their concerns; those used with these are included here.
#pragma once

#include "platform/kernel/kernel_object.h"
#include "platform/modules/resources.h"
#include "platform/process/token.h"
#include "platform/shell/shell.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "support/platform/dialogs.h"
#include "support/platform/pump.h"
#include "support/platform/scripted_responder.h"
#include "support/platform/stand_ins.h"
#include "support/platform/ui.h"
#include "support/platform/view_driver.h"
