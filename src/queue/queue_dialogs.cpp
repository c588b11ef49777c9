// The installation of the queue's dialogs into the hooks of the credential store and the
// error list.
#include "queue/queue_dialogs.h"

#include "queue/credentials.h"
#include "queue/exception_form.h"
#include "queue/exception_list.h"
#include "queue/password_form.h"

namespace fetchora {

void installQueueDialogs() {
    setCredentialPrompt(&TPasswordForm::ask);
    setExceptionView(&TExceptionForm::showText);
}

} // namespace fetchora
