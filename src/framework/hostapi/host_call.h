// AppModule::Call: calls of host API functions with converted arguments.
// (Definitions of the Call templates; included by app_module.h.)
#pragma once
