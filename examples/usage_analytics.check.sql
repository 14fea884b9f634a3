-- database: ProgramData/Tessaro/Tessaro Quillon/DataAnalytics.db
SELECT 'VISACAccess', ProcessName, AccessTime FROM VISACAccess;
SELECT 'VISACOMAccess', ProcessName, AccessTime FROM VISACOMAccess;
SELECT 'VISANETAccess', ProcessName, AccessTime FROM VISANETAccess;
SELECT 'SorrelSessionAccess', SessionType, UsageCount, StatisticsTime FROM SorrelSessionAccess;
