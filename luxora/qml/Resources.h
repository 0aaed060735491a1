// Access to the compiled-in screens, scripts and assets at the root of qrc:/.
#pragma once

// Makes sure the resources are registered. Their object file registers them during static initialisation
// too; calling this is what keeps a static link from dropping that object file. Calling it again is harmless.
void InitLuxoraResources();
