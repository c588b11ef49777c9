// The queue's dialogs behind the hooks of its plain code: installQueueDialogs makes the
// credential store ask through the authorization prompt and ShowExceptions show the
// "View Exceptions" dialog.
#pragma once

namespace fetchora {

// Installs both dialogs; the toolbar window's start-up calls it.
void installQueueDialogs();

} // namespace fetchora
