// OxRetriever::HttpReceive: one download for the account by a feed client, over a data
// connection of its own.
#include "feeds/rss_client.h"
#include "frame/oxerror.h"
#include "transport/ras_controller.h"
#include "transport/retrieval_common.h"
#include "transport/retriever.h"

int OxRetriever::HttpReceive(OxAccountInfoInterface* account, std::wstring* a, std::wstring* b, bool flag) {
  if (!account || !a || !b) return static_cast<int>(OXMDL_ERR_RSS_HTTP_RECEIVE);
  OxRASController ras;  // releases the connection when it goes
  long status = 0;
  void* connection = ras.EstablishConnection(&status, account);
  if (!connection) return static_cast<int>(OXMDL_ERR_RSS_HTTP_RECEIVE);
  OxAccountInfoInterface::Attributes attrs;
  MailAccount record;
  if (!oxm::transport::readRetrievalRecord(account, &attrs, &record)) return static_cast<int>(OXMDL_ERR_RSS_HTTP_RECEIVE);
  RssClient client;
  client.setAccount(&record, connection);
  return client.HttpReceive(a, b, flag);
}
