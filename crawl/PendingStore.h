// A downloaded tone waiting for its name: its bytes are staged on the folder's file system,
// to be synced with the next batch, when its name appears (CCrawlEngine).
#pragma once

#include "crawl/HarvestRecord.h"
#include "platform/files/files.h"

#include <memory>
#include <string>

struct CPendingStore {
    std::u16string m_szUrl;
    std::u16string m_szFolder;
    std::u16string m_szFileName;    // as the status line and the outcome name it
    std::u16string m_szDestination; // the folder joined with the file name
    CValidators m_validators;
    FolderTraits m_traits;
    bool m_bStorable = false; // a name remained after the naming rules
    std::unique_ptr<StagedFile> m_pStaged;
    int m_nSyncError = 0; // why its bytes could not be synced, or 0
};
