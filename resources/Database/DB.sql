-- The program's database: shows, their time points and commands, the three
-- command lists sent on player state changes, and the lookup tables.
-- Show names and media paths live in Database/Show.ini, not here.
--
-- The tables are STRICT so that a value that is not a number can never land
-- in an integer column. Columns an insert leaves out stay NULL; the program
-- reads NULL as 0 or the empty text.

create table Show (
    ShowID                 integer not null primary key,
    SequenceNo             integer,
    ActivedUniversalSwitch integer,
    UniversalSwitchID      integer
) strict;
create index Show_SequenceNo on Show (SequenceNo);

create table TimePoint (
    ShowID            integer not null,
    TimePointID       integer not null,
    SecondOfTimePoint integer,
    Remark            text,
    primary key (ShowID, TimePointID)
) strict;
create index TimePoint_Show_Second on TimePoint (ShowID, SecondOfTimePoint);

create table CommandsForShow (
    ShowID          integer not null,
    TimePointID     integer not null,
    CommandID       integer not null,
    SequenceNo      integer,
    SubnetID        integer,
    DeviceID        integer,
    CommandTypeID   integer,
    FirstParameter  integer,
    SecondParameter integer,
    ThirdParameter  integer,
    DelayMS         integer,
    Remark          text,
    primary key (ShowID, TimePointID, CommandID)
) strict;
create index CommandsForShow_Sequence on CommandsForShow (ShowID, TimePointID, SequenceNo);

create table CommandsForPlay (
    CommandID       integer not null primary key,
    SequenceNo      integer,
    SubnetID        integer,
    DeviceID        integer,
    CommandTypeID   integer,
    FirstParameter  integer,
    SecondParameter integer,
    ThirdParameter  integer,
    DelayMS         integer,
    Remark          text
) strict;
create index CommandsForPlay_Sequence on CommandsForPlay (SequenceNo);

create table CommandsForPause (
    CommandID       integer not null primary key,
    SequenceNo      integer,
    SubnetID        integer,
    DeviceID        integer,
    CommandTypeID   integer,
    FirstParameter  integer,
    SecondParameter integer,
    ThirdParameter  integer,
    DelayMS         integer,
    Remark          text
) strict;
create index CommandsForPause_Sequence on CommandsForPause (SequenceNo);

create table CommandsForStop (
    CommandID       integer not null primary key,
    SequenceNo      integer,
    SubnetID        integer,
    DeviceID        integer,
    CommandTypeID   integer,
    FirstParameter  integer,
    SecondParameter integer,
    ThirdParameter  integer,
    DelayMS         integer,
    Remark          text
) strict;
create index CommandsForStop_Sequence on CommandsForStop (SequenceNo);

-- Lookup tables. The program only reads them.

-- The command kinds; their display names come from Language/English.ini.
create table Define_Command_Type (
    ID   integer not null primary key,
    Note text
) strict;
insert into Define_Command_Type (ID, Note) values
    (0, 'Scene control'),
    (1, 'Sequence control'),
    (2, 'Universal switch'),
    (3, 'New command (not set)'),
    (4, 'Single channel control'),
    (5, 'Scene control, all areas'),
    (6, 'Channel control, all channels'),
    (7, 'Curtain control'),
    (8, 'Device command F116'),
    (9, 'Device command E3D4'),
    (10, 'Device command E3D8'),
    (11, 'Security mode'),
    (12, 'Security alarm');

create table Define_Universal_Switch_Status (
    ID   integer not null primary key,
    Note text
) strict;
insert into Define_Universal_Switch_Status (ID, Note) values
    (0, 'Off'),
    (255, 'On');

create table Define_Curtain_Status (
    ID   integer not null primary key,
    Note text
) strict;
insert into Define_Curtain_Status (ID, Note) values
    (0, 'Stop'),
    (1, 'Open'),
    (2, 'Close');

create table Define_Security_Mode (
    ID   integer not null primary key,
    Note text
) strict;
insert into Define_Security_Mode (ID, Note) values
    (1, 'Vacation'),
    (2, 'Away'),
    (3, 'Night'),
    (4, 'Night with guests'),
    (5, 'Day'),
    (6, 'Disarmed');

-- Value is what goes on the bus; ID only orders the list.
create table Define_Security_Alarm_Type (
    ID    integer not null primary key,
    Note  text,
    Value integer
) strict;
insert into Define_Security_Alarm_Type (ID, Note, Value) values
    (1, 'Intrusion', 1),
    (2, 'Fire', 2),
    (3, 'Gas leak', 3),
    (4, 'Water leak', 4),
    (5, 'Panic', 5),
    (6, 'Medical emergency', 6),
    (7, 'Tamper', 7);
