#include "cli/common.h"

namespace cli {

const char* const NETWORK_HELP =
    "\nRede: o proxy vem das variáveis de ambiente https_proxy e http_proxy (ou all_proxy);\n"
    "no_proxy lista os endereços que vão direto (ex.: no_proxy=localhost,.empresa.local).\n"
    "O certificado do servidor é sempre conferido; um certificado recusado é explicado.\n";

}  // namespace cli
