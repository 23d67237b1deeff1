#include "inventory/scsi_answers.h"

#include "inventory/invutil.h"

// Sense key, ASC and ASCQ of fixed (0x70/0x71) or descriptor (0x72/0x73) sense data.
Sense ParseSense(const uint8_t *s) {
    Sense r;
    uint8_t code = s[0] & 0x7F;
    if (code == 0x72 || code == 0x73) {
        r.key = s[1] & 0x0F;
        r.asc = s[2];
        r.ascq = s[3];
    } else {
        r.key = s[2] & 0x0F;
        r.asc = s[12];
        r.ascq = s[13];
    }
    return r;
}

// Reading of one TEST UNIT READY answer.
Tur EvaluateTur(const char *who, TVX_STATUS status, const uint8_t *senseBytes) {
    switch (status) {
    case TVX_STATUS_OK: return Tur::Ready;
    case TVX_ERR_RESERVATION: INV_DEBUG("%s: SCSI Reservation: Existence...Ok.", who); return Tur::Ready;
    case TVX_ERR_SCSI_TIMEOUT:
    case TVX_ERR_SCSI_TRANSPORT:
        INV_DEBUG("%s: Driver status (0x%x) (%s): Retrying TUR (Zzz)...", who, status, TvxErrorText(status).c_str());
        return Tur::RetryWait;
    case TVX_ERR_BUSY: INV_DEBUG("%s: Driver status [Device Busy]: Retrying TUR (Zzz)...", who); return Tur::RetryWait;
    case TVX_ERR_CHECK_CONDITION: break;
    default:
        INV_DEBUG("%s: Target failed Test Unit Ready (0x%x) (%s)", who, status, TvxErrorText(status).c_str());
        return Tur::NotReady;
    }
    Sense s = ParseSense(senseBytes);
    if (s.key == 6) {
        INV_DEBUG("%s: SCSI check [Attention]: Retrying TUR (Zzz)...", who);
        return Tur::RetryWait;
    }
    if (s.key == 2) {
        if (s.asc == 0x04) {
            INV_DEBUG("%s: SCSI check [LUN not ready, cause not reportable]: Ok", who);
            return Tur::Ready;
        }
        if (s.asc == 0x20) {
            INV_DEBUG("%s: SCSI check [Access Denied]: Retrying TUR", who);
            return Tur::RetryNoWait;
        }
        if (s.asc == 0x68) {
            INV_DEBUG("%s: SCSI check [LUN Not Configured]: Retrying TUR", who);
            return Tur::RetryNoWait;
        }
        if (s.asc == 0x3A) {
            INV_DEBUG("%s: SCSI check Media Not Present: Ignoring...", who);
            return Tur::Ready;
        }
    } else if (s.key == 5) {
        if (s.asc == 0x04) {
            INV_DEBUG("%s: SCSI check [LUN not ready, cause not reportable]: Ok?", who);
            return Tur::Ready;
        }
        if (s.asc == 0x25 && s.ascq == 0) {
            INV_DEBUG("%s: SCSI check [LUN not supported]: Existence...Ok.", who);
            return Tur::Ready;
        }
        if (s.asc == 0x20 && s.ascq == 0) {
            INV_DEBUG("%s: SCSI check [LUN Illegal Request]: Existence...Ok.", who);
            return Tur::Ready;
        }
        if (s.asc == 0x3A) {
            INV_DEBUG("%s: SCSI check Media Not Present: Ignoring...", who);
            return Tur::Ready;
        }
    } else if (s.key == 0 && s.asc == 0 && s.ascq == 0) {
        INV_DEBUG("%s: SCSI check with invalid sense data (0x00): Ignoring...", who);
        return Tur::Ready;
    }
    INV_DEBUG("%s: SCSI check (retries exhausted) - Sense key:  0x%x, asc:  0x%x, ascq:  0x%x", who, s.key, s.asc,
              s.ascq);
    return Tur::NotReady;
}
