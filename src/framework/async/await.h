// Await: waits for a future by letting the host run its pending work.
// (Definition of AppModule::Await; included by app_module.h.)
#pragma once
