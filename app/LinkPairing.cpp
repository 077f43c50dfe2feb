#include "app/LinkPairing.h"

#include "components/parlink/Pairing.h"
#include "components/parlink/ParlinkSettingsFiles.h"
#include "exchange/ExchangeCodes.h"
#include "platform/InstallLayout.h"

#include <QProcessEnvironment>

CLinkPairingResult PairTerminal(const QString& port, const QString& code) {
    // The component's library lies beside its components.ini.
    const QStringList files = ParlinkSettingsFiles(ComponentFolder(), QProcessEnvironment::systemEnvironment());
    const CPairOutcome outcome = PairWithTerminal(port, code, files);
    CLinkPairingResult r;
    r.detail = outcome.text;
    switch (outcome.result) {
    case EPairResult::Paired:
        r.code = ExchangeCode::kOk;
        break;
    case EPairResult::NotNetworkPort:
    case EPairResult::BadCode:
        r.code = 100;
        break;
    default:
        r.code = ExchangeCode::kPortNotOpened;
        break;
    }
    return r;
}
