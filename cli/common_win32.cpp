#include "cli/common.h"

namespace cli {

const char* const NETWORK_HELP =
    "\nRede: usa o proxy configurado no Windows para o usuário (manual, com a lista de exceções, ou\n"
    "automático). O certificado do servidor é sempre conferido; um certificado recusado é explicado.\n";

}  // namespace cli
