// SPDX-License-Identifier: MIT
#include "mail/imap/connection.h"

#include <QCryptographicHash>
#include <QTimeZone>
#include <map>
#include <mutex>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <libetpan/libetpan.h>

namespace quillbox::mail::imap {

namespace {

// Messages per UID FETCH: one command, one answer, without a command line longer than servers take.
constexpr std::size_t kBatch = 500;

// The header fields the list reads; the rest of a message stays on the server until it is saved.
constexpr const char* kListFields[] = { "Date", "From", "To", "Subject", "Content-Type" };

QString hostOf(const Account& account)
{
    return account.host + u':' + QString::number(account.port);
}

QDateTime dateTimeOf(const mailimap_date_time* time)
{
    if (!time)
        return {};
    const int zone = time->dt_zone; // +0200 arrives as 200
    const int offset = (zone / 100) * 3600 + (zone % 100) * 60;
    const QDateTime at(QDate(time->dt_year, time->dt_month, time->dt_day),
        QTime(time->dt_hour, time->dt_min, time->dt_sec), QTimeZone(offset));
    return at.isValid() ? at.toLocalTime() : QDateTime();
}

// The UIDs of `uids` from `begin` to `end` as one set, runs of consecutive UIDs as intervals.
mailimap_set* setOf(std::vector<quint32>::const_iterator begin, std::vector<quint32>::const_iterator end)
{
    mailimap_set* set = mailimap_set_new_empty();
    while (begin != end) {
        auto last = begin;
        while (last + 1 != end && *(last + 1) == *last + 1)
            ++last;
        mailimap_set_add_interval(set, *begin, *last);
        begin = last + 1;
    }
    return set;
}

// The first element of `list`, which libetpan leaves null for an empty list ("FLAGS ()").
clistiter* first(clist* list)
{
    return list ? clist_begin(list) : nullptr;
}

void freeChain(carray* chain)
{
    for (unsigned i = 0; i < carray_count(chain); ++i)
        mmap_string_free(static_cast<MMAPString*>(carray_get(chain, i)));
    carray_free(chain);
}

// Why the chain `der` (the server's certificate first) is not trusted for `host` by the system's
// authorities; empty when it is.
QString untrustedBecause(const std::vector<QByteArray>& der, const QString& host)
{
    gnutls_x509_trust_list_t trust = nullptr;
    gnutls_x509_trust_list_init(&trust, 0);
    QString why;
    if (gnutls_x509_trust_list_add_system_trust(trust, 0, 0) < 0)
        why = QStringLiteral("the system's certificate authorities could not be read");
    std::vector<gnutls_x509_crt_t> chain;
    for (const QByteArray& certificate : der) {
        gnutls_x509_crt_t crt = nullptr;
        gnutls_x509_crt_init(&crt);
        const gnutls_datum_t data { reinterpret_cast<unsigned char*>(const_cast<char*>(certificate.constData())),
            unsigned(certificate.size()) };
        if (gnutls_x509_crt_import(crt, &data, GNUTLS_X509_FMT_DER) < 0) {
            gnutls_x509_crt_deinit(crt);
            why = QStringLiteral("the server sent a certificate that cannot be read");
            break;
        }
        chain.push_back(crt);
    }
    unsigned status = 0;
    if (why.isEmpty() && chain.empty())
        why = QStringLiteral("the server sent no certificate");
    if (why.isEmpty()
        && gnutls_x509_trust_list_verify_crt(trust, chain.data(), unsigned(chain.size()), 0, &status, nullptr) < 0)
        why = QStringLiteral("its certificate could not be checked");
    if (why.isEmpty() && status != 0) {
        gnutls_datum_t text {};
        gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0);
        why = QString::fromUtf8(reinterpret_cast<const char*>(text.data), int(text.size));
        gnutls_free(text.data);
    }
    if (why.isEmpty() && !gnutls_x509_crt_check_hostname(chain.front(), host.toUtf8().constData()))
        why = QStringLiteral("its certificate is for another server name");
    for (gnutls_x509_crt_t crt : chain)
        gnutls_x509_crt_deinit(crt);
    gnutls_x509_trust_list_deinit(trust, 1);
    return why;
}

// libetpan reads a literal until it has all the bytes announced and takes a read of nothing (the server
// closed the connection) for one that may still bring some: it would try again for ever. The stream's driver
// is wrapped so that the end of the stream is an error.
struct GuardedDriver {
    mailstream_low_driver driver; // first, so that the stream's driver pointer is this one's too
    mailstream_low_driver* original;
};

ssize_t readBeforeEnd(mailstream_low* low, void* buffer, size_t size)
{
    const auto* guarded = reinterpret_cast<const GuardedDriver*>(low->driver);
    const ssize_t read = guarded->original->mailstream_read(low, buffer, size);
    return read == 0 && size > 0 ? -1 : read;
}

void guardEndOfStream(mailstream* stream)
{
    mailstream_low* low = stream ? mailstream_get_low(stream) : nullptr;
    if (!low || low->driver->mailstream_read == &readBeforeEnd)
        return;
    static std::mutex mutex;
    static std::map<mailstream_low_driver*, std::unique_ptr<GuardedDriver>> guarded; // one per kind of stream
    const std::lock_guard lock(mutex);
    std::unique_ptr<GuardedDriver>& driver = guarded[low->driver];
    if (!driver) {
        driver = std::make_unique<GuardedDriver>(GuardedDriver { *low->driver, low->driver });
        driver->driver.mailstream_read = &readBeforeEnd;
    }
    low->driver = &driver->driver;
}

void setServerName(mailstream_ssl_context* context, void* host)
{
    mailstream_ssl_set_server_name(context, static_cast<char*>(host));
}

} // namespace

Connection::Connection(const Account& account, mailimap* imap)
    : m_account(account)
    , m_imap(imap)
{
}

Connection::~Connection()
{
    if (!m_broken && m_imap->imap_stream)
        mailimap_logout(m_imap);
    mailimap_free(m_imap);
}

Result<std::unique_ptr<Connection>> Connection::open(const Account& account, const Secret& secret)
{
    mailimap* imap = mailimap_new(0, nullptr);
    if (!imap)
        return Error { Error::Code::Unreadable, account.store, QStringLiteral("out of memory") };
    std::unique_ptr<Connection> connection(new Connection(account, imap));
    mailimap_set_timeout(imap, account.timeoutSeconds);
    // libetpan's waits for data take their limit from here where the stream has none of its own.
    mailstream_network_delay.tv_sec = account.timeoutSeconds;
    mailstream_network_delay.tv_usec = 0;
    if (Status connected = connection->connect(); !connected)
        return connected.error();
    if (Status checked = connection->checkCertificate(); !checked)
        return checked.error();
    if (Status loggedIn = connection->login(secret); !loggedIn)
        return loggedIn.error();
    return connection;
}

Error Connection::failure(const QString& what, int code)
{
    const bool lost = code == MAILIMAP_ERROR_STREAM || code == MAILIMAP_ERROR_PARSE || code == MAILIMAP_ERROR_BAD_STATE
        || code == MAILIMAP_ERROR_CONNECTION_REFUSED || code == MAILIMAP_ERROR_SSL || code == MAILIMAP_ERROR_FATAL;
    m_broken = m_broken || lost;
    QString detail;
    if (code == MAILIMAP_ERROR_CONNECTION_REFUSED)
        detail = QStringLiteral("no connection to the server");
    else if (code == MAILIMAP_ERROR_STREAM)
        detail = QStringLiteral("the connection was lost or the server did not answer within %1 s")
                     .arg(m_account.timeoutSeconds);
    else if (code == MAILIMAP_ERROR_PARSE)
        detail = QStringLiteral("the server's answer could not be read");
    else if (code == MAILIMAP_ERROR_SSL)
        detail = QStringLiteral("no TLS connection could be made: the server did not answer within %1 s, or "
                                "speaks no TLS on this port")
                     .arg(m_account.timeoutSeconds);
    else if (m_imap->imap_response && *m_imap->imap_response)
        detail = QStringLiteral("the server said: ") + QString::fromUtf8(m_imap->imap_response);
    else
        detail = QStringLiteral("the server refused it (libetpan error %1)").arg(code);
    return Error { code == MAILIMAP_ERROR_UID_FETCH ? Error::Code::NotFound : Error::Code::Unreadable,
        QStringLiteral("%1 (%2)").arg(hostOf(m_account), what), detail };
}

Status Connection::connect()
{
    const QByteArray host = m_account.host.toUtf8();
    int r = m_account.security == Account::Security::Tls
        ? mailimap_ssl_connect_with_callback(
            m_imap, host.constData(), m_account.port, &setServerName, const_cast<char*>(host.constData()))
        : mailimap_socket_connect(m_imap, host.constData(), m_account.port);
    if (r != MAILIMAP_NO_ERROR_AUTHENTICATED && r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED)
        return failure(QStringLiteral("connecting"), r);
    guardEndOfStream(m_imap->imap_stream);
    if (m_account.security == Account::Security::StartTls) {
        mailimap_capability_data* capabilities = nullptr;
        r = mailimap_capability(m_imap, &capabilities);
        if (r != MAILIMAP_NO_ERROR)
            return failure(QStringLiteral("asking for STARTTLS"), r);
        mailimap_capability_data_free(capabilities);
        const bool offered = mailimap_has_extension(m_imap, const_cast<char*>("STARTTLS"));
        // Only a server on this computer may be spoken to in the clear, and only when it offers no TLS.
        if (!offered && m_account.loopback())
            return success();
        if (!offered)
            return Error { Error::Code::Unreadable, hostOf(m_account),
                QStringLiteral("the server offers no STARTTLS, which an imap:// address requires (imaps:// "
                               "connects with TLS from the start)") };
        r = mailimap_socket_starttls_with_callback(m_imap, &setServerName, const_cast<char*>(host.constData()));
        if (r != MAILIMAP_NO_ERROR)
            return failure(QStringLiteral("STARTTLS"), r);
        guardEndOfStream(m_imap->imap_stream);
    }
    return success();
}

Status Connection::checkCertificate()
{
    mailstream_low* low = mailstream_get_low(m_imap->imap_stream);
    carray* chain = low ? mailstream_low_get_certificate_chain(low) : nullptr;
    if (!chain)
        return success(); // a plain connection to this computer
    std::vector<QByteArray> der;
    for (unsigned i = 0; i < carray_count(chain); ++i) {
        const auto* certificate = static_cast<const MMAPString*>(carray_get(chain, i));
        der.emplace_back(certificate->str, qsizetype(certificate->len));
    }
    freeChain(chain);
    if (der.empty())
        return Error { Error::Code::Unreadable, hostOf(m_account), QStringLiteral("the server sent no certificate") };
    const QString fingerprint
        = QString::fromLatin1(QCryptographicHash::hash(der.front(), QCryptographicHash::Sha256).toHex().toUpper());
    if (!m_account.fingerprint.isEmpty()) {
        if (fingerprint == m_account.fingerprint)
            return success();
        m_broken = true;
        return Error { Error::Code::Unreadable, hostOf(m_account),
            QStringLiteral("the server's certificate (SHA-256 fingerprint %1) is not the one %2.Fingerprint pins")
                .arg(shownFingerprint(fingerprint), m_account.store) };
    }
    const QString why = untrustedBecause(der, m_account.host);
    if (why.isEmpty())
        return success();
    m_broken = true;
    return Error { Error::Code::Unreadable, hostOf(m_account),
        QStringLiteral("the server's certificate is not trusted: %1. Its SHA-256 fingerprint is %2; if that is "
                       "the server's own certificate, add the line %3.Fingerprint=%2 to [Stores] of the profile")
            .arg(why.trimmed(), shownFingerprint(fingerprint), m_account.store) };
}

Status Connection::login(const Secret& secret)
{
    const QByteArray user = m_account.user.toUtf8();
    const int r = secret.token() ? mailimap_oauth2_authenticate(m_imap, user.constData(), secret.text.constData())
                                 : mailimap_login(m_imap, user.constData(), secret.text.constData());
    if (r == MAILIMAP_NO_ERROR)
        return success();
    Error why = failure(QStringLiteral("logging in as %1").arg(m_account.user), r);
    if (!m_broken)
        why.detail = QStringLiteral("the server refused the %1: %2")
                         .arg(secret.token() ? QStringLiteral("access token") : QStringLiteral("user name or password"),
                             why.detail);
    return why;
}

Result<std::vector<ListEntry>> Connection::list()
{
    clist* found = nullptr;
    const int r = mailimap_list(m_imap, "", "*", &found);
    if (r != MAILIMAP_NO_ERROR)
        return failure(QStringLiteral("listing the folders"), r);
    std::vector<ListEntry> entries;
    for (clistiter* it = first(found); it; it = clist_next(it)) {
        const auto* entry = static_cast<const mailimap_mailbox_list*>(clist_content(it));
        ListEntry listed { QByteArray(entry->mb_name), entry->mb_delimiter, true };
        if (const mailimap_mbx_list_flags* flags = entry->mb_flag) {
            if (flags->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG
                && flags->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT)
                listed.selectable = false;
            for (clistiter* f = first(flags->mbf_oflags); f; f = clist_next(f)) {
                const auto* flag = static_cast<const mailimap_mbx_list_oflag*>(clist_content(f));
                if (flag->of_type == MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT && flag->of_flag_ext
                    && qstricmp(flag->of_flag_ext, "NonExistent") == 0)
                    listed.selectable = false;
            }
        }
        entries.push_back(std::move(listed));
    }
    mailimap_list_result_free(found);
    return entries;
}

Result<quint32> Connection::examine(const QByteArray& mailbox)
{
    const int r = mailimap_examine(m_imap, mailbox.constData());
    if (r != MAILIMAP_NO_ERROR)
        return failure(QStringLiteral("opening the folder %1").arg(QString::fromUtf8(mailbox)), r);
    return m_imap->imap_selection_info ? quint32(m_imap->imap_selection_info->sel_uidvalidity) : 0u;
}

Result<std::vector<quint32>> Connection::search(const QDate& since, const QDate& before)
{
    mailimap_search_key* key = mailimap_search_key_new_all();
    if (since.isValid() || before.isValid()) {
        mailimap_search_key_free(key);
        key = mailimap_search_key_new_multiple_empty();
        if (since.isValid()) {
            const auto date = [&] { return mailimap_date_new(since.day(), since.month(), since.year()); };
            mailimap_search_key_multiple_add(key,
                mailimap_search_key_new_or(
                    mailimap_search_key_new_since(date()), mailimap_search_key_new_sentsince(date())));
        }
        if (before.isValid())
            mailimap_search_key_multiple_add(
                key, mailimap_search_key_new_before(mailimap_date_new(before.day(), before.month(), before.year())));
    }
    clist* found = nullptr;
    const int r = mailimap_uid_search(m_imap, nullptr, key, &found);
    mailimap_search_key_free(key);
    if (r != MAILIMAP_NO_ERROR)
        return failure(QStringLiteral("searching the folder"), r);
    std::vector<quint32> uids;
    for (clistiter* it = first(found); it; it = clist_next(it))
        uids.push_back(*static_cast<uint32_t*>(clist_content(it)));
    mailimap_search_result_free(found);
    std::sort(uids.begin(), uids.end());
    return uids;
}

Status Connection::fetch(
    const std::vector<quint32>& uids, const Part& part, const std::function<void(MessageHead&, QByteArray&)>& visit)
{
    for (std::size_t start = 0; start < uids.size(); start += kBatch) {
        const auto end = uids.begin() + qsizetype(std::min(uids.size(), start + kBatch));
        mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_rfc822_size());
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
        if (part.kind == Part::Kind::ListFields) {
            clist* names = clist_new();
            for (const char* name : kListFields)
                clist_append(names, strdup(name));
            mailimap_fetch_type_new_fetch_att_list_add(type,
                mailimap_fetch_att_new_body_peek_section(
                    mailimap_section_new_header_fields(mailimap_header_list_new(names))));
        } else if (part.kind == Part::Kind::Whole) {
            mailimap_section* section = mailimap_section_new(nullptr);
            mailimap_fetch_type_new_fetch_att_list_add(type,
                part.length ? mailimap_fetch_att_new_body_peek_section_partial(section, part.offset, part.length)
                            : mailimap_fetch_att_new_body_peek_section(section));
        }
        mailimap_set* set = setOf(uids.begin() + qsizetype(start), end);
        clist* found = nullptr;
        const int r = mailimap_uid_fetch(m_imap, set, type, &found);
        mailimap_set_free(set);
        mailimap_fetch_type_free(type);
        if (r != MAILIMAP_NO_ERROR)
            return failure(QStringLiteral("reading messages"), r);
        for (clistiter* it = first(found); it; it = clist_next(it)) {
            const auto* message = static_cast<const mailimap_msg_att*>(clist_content(it));
            MessageHead head;
            QByteArray bytes;
            bool hasSize = false, hasBody = false;
            for (clistiter* a = first(message->att_list); a; a = clist_next(a)) {
                const auto* item = static_cast<const mailimap_msg_att_item*>(clist_content(a));
                if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC) {
                    const mailimap_msg_att_dynamic* flags = item->att_data.att_dyn;
                    for (clistiter* f = first(flags ? flags->att_list : nullptr); f; f = clist_next(f)) {
                        const auto* flag = static_cast<const mailimap_flag_fetch*>(clist_content(f));
                        if (flag->fl_type == MAILIMAP_FLAG_FETCH_OTHER && flag->fl_flag
                            && flag->fl_flag->fl_type == MAILIMAP_FLAG_DRAFT)
                            head.draft = true;
                    }
                    continue;
                }
                const mailimap_msg_att_static* value = item->att_data.att_static;
                if (value->att_type == MAILIMAP_MSG_ATT_UID) {
                    head.uid = value->att_data.att_uid;
                } else if (value->att_type == MAILIMAP_MSG_ATT_INTERNALDATE) {
                    head.internalDate = dateTimeOf(value->att_data.att_internal_date);
                } else if (value->att_type == MAILIMAP_MSG_ATT_RFC822_SIZE) {
                    head.size = value->att_data.att_rfc822_size;
                    hasSize = true;
                } else if (value->att_type == MAILIMAP_MSG_ATT_BODY_SECTION) {
                    const mailimap_msg_att_body_section* body = value->att_data.att_body_section;
                    hasBody = true;
                    if (body->sec_body_part)
                        bytes = QByteArray(body->sec_body_part, qsizetype(body->sec_length));
                }
            }
            // An unsolicited FETCH (a flag change told by the server) carries neither: it is no answer.
            if (head.uid != 0 && (part.kind == Part::Kind::None ? hasSize : hasBody))
                visit(head, bytes);
        }
        mailimap_fetch_list_free(found);
    }
    return success();
}

Status Connection::heads(
    const std::vector<quint32>& uids, bool withHeader, const std::function<void(MessageHead&)>& visit)
{
    const Part part { withHeader ? Part::Kind::ListFields : Part::Kind::None };
    return fetch(uids, part, [&](MessageHead& head, QByteArray& bytes) {
        head.header = std::move(bytes);
        visit(head);
    });
}

Status Connection::messages(
    const std::vector<quint32>& uids, const std::function<void(MessageHead&, QByteArray&)>& visit)
{
    return fetch(uids, { Part::Kind::Whole }, visit);
}

Result<std::optional<QByteArray>> Connection::range(quint32 uid, quint32 offset, quint32 length)
{
    std::optional<QByteArray> found;
    const Status read
        = fetch({ uid }, { Part::Kind::Whole, offset, length }, [&](MessageHead& head, QByteArray& bytes) {
              if (head.uid == uid)
                  found = std::move(bytes);
          });
    if (!read)
        return read.error();
    return found;
}

} // namespace quillbox::mail::imap
