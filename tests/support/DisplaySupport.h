#pragma once

namespace test
{
// Without a window manager (as under Xvfb) putting a window on screen raises harmless X errors,
// whose default handler ends the process. Installs a handler that ignores them; call it before
// opening a window.
void tolerateXErrors();
} // namespace test
