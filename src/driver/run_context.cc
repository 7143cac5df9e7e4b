#include "driver/run_context.h"

RunContext::RunContext() { userPackage.Assign("user_dlc"); }

RunContext::~RunContext() {}
