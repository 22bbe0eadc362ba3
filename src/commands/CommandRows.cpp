#include "commands/CommandRows.h"

#include "store/Database.h"

TControlObject ReadCommandToSend(const TQuery& q) {
    TControlObject c;
    c.SubnetID = static_cast<uint8_t>(q.FieldAsInteger("SubnetID"));
    c.DeviceID = static_cast<uint8_t>(q.FieldAsInteger("DeviceID"));
    c.CommandTypeID = static_cast<uint8_t>(q.FieldAsInteger("CommandTypeID"));
    c.FirstParameter = static_cast<uint16_t>(q.FieldAsInteger("FirstParameter"));
    c.SecondParameter = static_cast<uint16_t>(q.FieldAsInteger("SecondParameter"));
    c.ThirdParameter = static_cast<uint16_t>(q.FieldAsInteger("ThirdParameter"));
    c.DelayMS = static_cast<int32_t>(q.FieldAsInteger("DelayMS"));
    return c;
}

TControlObject ReadControlObject(const TQuery& q) {
    TControlObject c = ReadCommandToSend(q);
    c.CommandID = static_cast<int32_t>(q.FieldAsInteger("CommandID"));
    c.SequenceNo = static_cast<int32_t>(q.FieldAsInteger("SequenceNo"));
    c.Remark = q.FieldAsString("Remark");
    return c;
}

std::vector<TControlObject> ReadCommandList(TQuery& query, const QString& sql) {
    std::vector<TControlObject> list;
    try {
        query.Close();
        query.SetSQL(sql);
        query.Open();
        list.reserve(static_cast<size_t>(query.RecordCount()));
        for (; !query.Eof(); query.Next())
            list.push_back(ReadControlObject(query));
        query.Close();
    } catch (...) {
        query.Close();
        throw;
    }
    return list;
}
