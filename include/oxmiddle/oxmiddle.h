// liboxmiddle: the middle layer of a mail program. It keeps accounts and their settings, a
// crash-safe local message store, a MIME codec with Japanese charsets and pictograms, POP3
// retrieval, SMTP sending and RSS/RDF feeds that arrive as messages. Exported classes, records,
// functions and error codes live in the global namespace under the names below. Errors are
// reported the same way throughout: a failing call returns false, a null pointer or 0 and
// leaves one OXMDL_ERR_* code, which GetOxMiddleError() then returns.
#pragma once

#include "platform/wintypes.h"
#include "platform/device.h"
#include "platform/console.h"
#include "platform/helper_process.h"
#include "platform/question.h"
#include "transport/pop_client.h"
#include "platform/usernotify.h"
#include "frame/oxerror.h"
#include "frame/profile.h"
#include "frame/registry_value.h"
#include "store/folder_interface.h"
#include "store/message_interface.h"
#include "store/storage_interface.h"
#include "store/message_exporter.h"
#include "store/message_importer.h"
#include "accounts/account_info.h"
#include "accounts/account_creator.h"
#include "accounts/classifier.h"
#include "accounts/classification.h"
#include "accounts/signature.h"
#include "accounts/common_setting.h"
#include "accounts/system_info.h"
#include "accounts/plugin_info.h"
#include "codec/email.h"
#include "codec/emlcompose.h"
#include "codec/convert.h"
#include "codec/quote_email.h"
#include "codec/html_creater.h"
#include "transport/protocol_log.h"
#include "transport/ras_controller.h"
#include "transport/retriever.h"
#include "transport/periodic.h"
#include "transport/smtp_client.h"
#include "transport/sender.h"
#include "feeds/rss_client.h"
#include "feeds/rss_retriever.h"
