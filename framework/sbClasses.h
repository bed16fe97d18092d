#pragma once

// The framework in one include: page bases, burner, callback eventer, device
// record and list, speed list, operation log, diagnostic logger, actions and
// worker threads.

#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbDevice.h"
#include "framework/sbDeviceList.h"
#include "framework/sbDockForm.h"
#include "framework/sbErase.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "framework/sbMainForm.h"
#include "framework/sbMessageBox.h"
#include "framework/sbSpeedList.h"
#include "framework/sbTypes.h"
#include "framework/sbWaitDialog.h"
